// Hostile and broken files: every file in tests/hostile/ run through the
// built binary in a fresh directory, where outputs from an earlier run are
// already in place. A run must end by itself within a bounded time, exit 0
// with outputs the decoder's image gives, or exit 1 with one "cannot read"
// line and the earlier outputs untouched; never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <set>
#include <thread>

#include <fcntl.h>
#include <seccomp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "remap/remap.h"

namespace {

fs::path hostile(const std::string &name)
{
    return fs::path(HOSTILE_DIR) / name;
}

// Files that are real images of 16384x16384 pixels: correct, but they take
// a minute and gigabytes, so they run in the "slow" group only.
const std::set<std::string> slow_files = {"tga-rle-16384-bomb.tga", "jpeg-16384-no-scan-bomb.jpg"};

// Palette BMPs made by make_palette_bmps.py (whose whole-palette OS/2 files
// Pillow reads to the same colours): pixel (x, y) has index
// (y * width + x) mod 2^bits, and palette entry i is (2i + 1, 255 - i,
// 37i + 11 mod 256). Every one of the file's `entries` gives its colour,
// whatever the header (stb_image loses four of an OS/2 file's); pixels past
// them are black, on every run, never what the decoder's stack held.
struct palette_bmp {
    const char *file;
    int width, height, bits, entries;
};

constexpr palette_bmp palette_bmps[] = {
    {"bmp-short-palette-8bit.bmp", 16, 16, 8, 101}, {"bmp-short-palette-os2.bmp", 16, 16, 8, 101},
    {"bmp-short-palette-4bit.bmp", 13, 4, 4, 5},    {"bmp-os2-1bit.bmp", 11, 3, 1, 2},
    {"bmp-os2-4bit.bmp", 13, 4, 4, 16},             {"bmp-os2-8bit.bmp", 16, 16, 8, 256},
};

// The image a file holds: for the palette BMPs the script's, otherwise
// what stb_image makes of it.
decoded expected_image(const fs::path &file)
{
    for (const palette_bmp &p : palette_bmps) {
        if (file.filename() != p.file)
            continue;
        decoded image;
        image.width = p.width;
        image.height = p.height;
        image.channels = 3;
        for (int i = 0; i < p.width * p.height; ++i) {
            const int index = i % (1 << p.bits);
            const bool known = index < p.entries;
            image.pixels.push_back(static_cast<unsigned char>(known ? 2 * index + 1 : 0));
            image.pixels.push_back(static_cast<unsigned char>(known ? 255 - index : 0));
            image.pixels.push_back(static_cast<unsigned char>(known ? (37 * index + 11) % 256 : 0));
        }
        return image;
    }
    return stb_decode(file);
}

bool is_palette_bmp(const std::string &name)
{
    return std::any_of(std::begin(palette_bmps), std::end(palette_bmps),
                       [&](const palette_bmp &p) { return name == p.file; });
}

struct timed_run {
    run_result run;
    double seconds = 0;
};

// Runs pixremap on a copy of the file in dir, beside earlier outputs.
timed_run run_on(const fs::path &dir, const std::string &name,
                 const std::function<void()> &before_exec = {})
{
    fs::copy_file(hostile(name), dir / name);
    write_file(dir / "outfirst.png", "earlier first output");
    write_file(dir / "outsecond.png", "earlier second output");
    const auto start = std::chrono::steady_clock::now();
    timed_run result;
    result.run = run_pixremap(dir, {name}, before_exec);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

// What every run must give, whatever the file.
void expect_clean_end(const fs::path &dir, const std::string &name, const timed_run &result)
{
    ASSERT_TRUE(result.run.status == 0 || (result.run.status == 1 && !is_palette_bmp(name)))
        << "status " << result.run.status << ", stderr: " << result.run.err;
    EXPECT_EQ(result.run.out, "");
    if (result.run.status == 1) {
        const std::string prefix = "pixremap: cannot read '" + name + "': ";
        EXPECT_EQ(result.run.err.rfind(prefix, 0), 0u) << result.run.err;
        EXPECT_GT(result.run.err.size(), prefix.size() + 1) << "no reason given";
        EXPECT_EQ(result.run.err.find('\n'), result.run.err.size() - 1) << "not one line";
        EXPECT_EQ(read_file(dir / "outfirst.png"), "earlier first output");
        EXPECT_EQ(read_file(dir / "outsecond.png"), "earlier second output");
        std::vector<std::string> expected = {name, "outfirst.png", "outsecond.png"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(list_dir(dir), expected);
    } else {
        EXPECT_EQ(result.run.err, "");
        const decoded input = expected_image(dir / name);
        ASSERT_EQ(input.error, "");
        const auto first = apply_map(input.pixels, input.channels, digit_remap);
        const auto second = apply_map(first, input.channels, bit_remap);
        const decoded out1 = libpng_decode(dir / "outfirst.png");
        const decoded out2 = libpng_decode(dir / "outsecond.png");
        EXPECT_EQ(out1.width, input.width);
        EXPECT_EQ(out1.height, input.height);
        EXPECT_TRUE(out1.pixels == first);
        EXPECT_TRUE(out2.pixels == second);
    }
}

using hostile_files = with_temp_dir<std::string>;

// Every file, including those added later: a clean end within a minute.
TEST_P(hostile_files, end_cleanly)
{
    const timed_run result = run_on(dir, GetParam());
    expect_clean_end(dir, GetParam(), result);
    EXPECT_LT(result.seconds, 60);
}

std::vector<std::string> fast_hostile_files()
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(HOSTILE_DIR)) {
        const std::string name = entry.path().filename();
        if (name != "README.md" && entry.path().extension() != ".py" && !slow_files.count(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string test_name(const testing::TestParamInfo<std::string> &info)
{
    return test_name_of(info.param);
}

INSTANTIATE_TEST_SUITE_P(all, hostile_files, testing::ValuesIn(fast_hostile_files()), test_name);

// The known files, each with the reason it must be refused for.
struct refusal {
    const char *file;
    const char *reason;
    double seconds;  // the most the run may take: loose, it catches hangs
    // A processor-time limit the run is given (ulimit -t), soft and hard, or 0.
    rlim_t cpu_soft = 0, cpu_hard = 0;
    const char *test = nullptr;  // the test's name, if not the file's
    void (*environment)() = nullptr;  // what else the caller does to the run
};

// A caller whose system calls that set limits are refused (a service
// manager's filter, a container's profile), by a filter of its own.
void limits_refused()
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    for (const char *call : {"prlimit64", "setrlimit", "getrlimit", "ugetrlimit"}) {
        const int nr = seccomp_syscall_resolve_name(call);
        if (nr >= 0)
            seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), nr, 0);
    }
    if (!filter || seccomp_load(filter) != 0)
        _exit(125);
}

// A caller that ignores SIGCHLD, which the run inherits.
void sigchld_ignored()
{
    std::signal(SIGCHLD, SIG_IGN);
}

void PrintTo(const refusal &r, std::ostream *out) { *out << (r.test ? r.test : r.file); }

using hostile_refusals = with_temp_dir<refusal>;

TEST_P(hostile_refusals, are_refused_for_the_right_reason)
{
    const refusal &r = GetParam();
#ifdef __SANITIZE_ADDRESS__
    if (r.environment == limits_refused)
        GTEST_SKIP() << "AddressSanitizer's runtime can't start where limits can't be read or set";
#endif
    const timed_run result = run_on(dir, r.file, [r] {
        if (r.cpu_soft) {
            const rlimit cpu{r.cpu_soft, r.cpu_hard};
            setrlimit(RLIMIT_CPU, &cpu);
        }
        if (r.environment)
            r.environment();
    });
    EXPECT_EQ(result.run.status, 1);
    EXPECT_EQ(result.run.err, "pixremap: cannot read '" + std::string(r.file) + "': " + r.reason + "\n");
    EXPECT_LT(result.seconds, r.seconds);
}

INSTANTIATE_TEST_SUITE_P(
    known, hostile_refusals,
    testing::Values(
        // Loops for ever at the end of the file: stopped by the processor-time
        // budget of a 16x2 image, the fixed 8 seconds.
        refusal{"hdr-endless-rle.hdr",
                "the decoder was stopped after 8 seconds of processor time on this file "
                "(it may be made to hang it)",
                60},
        // The run's own limit is lower, soft or hard: the decoder keeps it.
        refusal{"hdr-endless-rle.hdr",
                "the decoder was stopped by this run's processor-time limit (ulimit -t) after 2 seconds", 30,
                2, RLIM_INFINITY, "hdr_endless_under_a_soft_cpu_limit"},
        refusal{"hdr-endless-rle.hdr",
                "the decoder was stopped by this run's processor-time limit (ulimit -t) after 2 seconds", 30,
                2, 2, "hdr_endless_under_a_hard_cpu_limit"},
        // Where the decoder can't set its limits, the tool stops it itself.
        refusal{"hdr-endless-rle.hdr",
                "the decoder was stopped after 8 seconds of processor time on this file "
                "(it may be made to hang it)",
                60, 0, 0, "hdr_endless_where_limits_are_refused", limits_refused},
        // A caller that ignores SIGCHLD: the decoder's end is still known.
        refusal{"hdr-endless-rle.hdr",
                "the decoder was stopped by this run's processor-time limit (ulimit -t) after 2 seconds", 30,
                2, RLIM_INFINITY, "hdr_endless_with_sigchld_ignored", sigchld_ignored},
        refusal{"jpeg-huffman-oob-write.jpg", "Corrupt JPEG", 30},
        // Crashed the decoder through a null image; now refused as it reads.
        refusal{"pic-null-deref.pic", "packet has bad compression type", 30},
        // Made the decoder's conversion fail a check; refused as it reads.
        refusal{"pic-bad-packet-assert.pic", "packet isn't 8bpp", 30},
        // Asks for 4 GiB for a 254x1 image: the memory budget refuses it.
        refusal{"png-254x1-4gib-idat-bomb.png", "Out of memory", 30},
        refusal{"pnm-zero-size.ppm", "the image has no pixels", 30}),
    [](const testing::TestParamInfo<refusal> &p) {
        return p.param.test ? std::string(p.param.test) : test_name_of(p.param.file);
    });

// A file whose size isn't found where the header is looked for (a PPM
// whose comment runs past the first MiB) gets the fixed 64 MiB alone; one
// that needs more is refused saying so, not as if memory had run out.
using unsized_files = temp_dir_fixture<>;

TEST_F(unsized_files, that_need_more_than_the_allowance_say_why)
{
    write_file(dir / "comment.ppm", "P6\n#" + std::string(1100000, 'c') + "\n5000 5000\n255\n");
    const run_result run = run_pixremap(dir, {"comment.ppm"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "pixremap: cannot read 'comment.ppm': Out of memory: the image's size was not found in "
                       "its first 1 MiB, so the decoder had only the 64 MiB any file gets\n");
}

// Truncated raw images decode to zeros beyond the file's data, never to
// whatever the decoder's memory held: glibc's MALLOC_PERTURB_ fills fresh
// allocations with a non-zero byte, which would show through otherwise. The
// ten data bytes of both files are 0x11: three whole pixels and one sample.
using truncated_files = with_temp_dir<const char *>;

TEST_P(truncated_files, give_zeros_beyond_their_data)
{
    std::string first_bytes;
    for (const char *perturb : {"165", "90"}) {
        SCOPED_TRACE(std::string("MALLOC_PERTURB_=") + perturb);
        fs::remove_all(dir);
        fs::create_directory(dir);
        const timed_run result =
            run_on(dir, GetParam(), [perturb] { setenv("MALLOC_PERTURB_", perturb, 1); });
        ASSERT_EQ(result.run.status, 0) << result.run.err;
        const decoded out = libpng_decode(dir / "outfirst.png");
        ASSERT_EQ(out.error, "");
        ASSERT_EQ(out.width, 64);
        ASSERT_EQ(out.height, 64);
        ASSERT_EQ(out.channels, 3);
        for (std::size_t i = 0; i < 9; ++i)
            EXPECT_EQ(out.pixels[i], digit_remap(0x11)) << "sample " << i;
        const auto nonzero = std::count_if(out.pixels.begin() + 12, out.pixels.end(),
                                           [](unsigned char v) { return v != 0; });
        EXPECT_EQ(nonzero, 0) << "samples beyond the data are not zero";
        const decoded second = libpng_decode(dir / "outsecond.png");
        EXPECT_TRUE(second.pixels == apply_map(out.pixels, 3, bit_remap));
        const std::string bytes = read_file(dir / "outfirst.png");
        if (!first_bytes.empty()) {
            EXPECT_EQ(bytes, first_bytes) << "outputs differ between runs";
        }
        first_bytes = bytes;
    }
}

INSTANTIATE_TEST_SUITE_P(known, truncated_files,
                         testing::Values("tga-truncated-uninit.tga", "pnm-truncated-uninit.ppm"),
                         [](const testing::TestParamInfo<const char *> &p) {
                             return std::string(p.param[0] == 't' ? "tga" : "pnm");
                         });

// How a decoder that dies is explained: the decoder is stopped here with a
// signal while it waits for input on a FIFO, as a crash or a kill would stop
// it, and the tool must say what became of it.
struct decoder_end {
    int signal;
    std::string reason;
};

void PrintTo(const decoder_end &end, std::ostream *out) { *out << "signal " << end.signal; }

// "signal 11, Segmentation fault", with the number this machine gives it.
std::string signal_named(int sig, const char *description)
{
    return "signal " + std::to_string(sig) + ", " + description;
}

using decoder_ends = with_temp_dir<decoder_end>;

// The parent's process id, from /proc/PID/stat.
pid_t parent_of(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    pid_t ppid = -1;
    rest >> state >> ppid;
    return ppid;
}

// A process whose parent is parent, or -1.
pid_t child_of(pid_t parent)
{
    for (const auto &entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (!name.empty() && std::all_of(name.begin(), name.end(), ::isdigit) &&
            parent_of(std::stoi(name)) == parent)
            return std::stoi(name);
    }
    return -1;
}

TEST_P(decoder_ends, are_explained)
{
    const decoder_end end = GetParam();
    const fs::path fifo = dir / "input.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread stopper([&] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        (void)!write(fd, "\x89PNG\r\n\x1a\n", 8);
        // The tool is this process's child, the decoder its child.
        pid_t decoder = -1;
        for (int tries = 0; tries < 1000 && decoder < 0; ++tries) {
            const pid_t tool = child_of(getpid());
            decoder = tool > 0 ? child_of(tool) : -1;
            if (decoder < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (decoder > 0)
            kill(decoder, end.signal);
        close(fd);
    });
    const run_result run = run_pixremap(dir, {"input.png"});
    stopper.join();
    EXPECT_EQ(run.status, 1);
    std::string expected = std::string("pixremap: cannot read 'input.png': ") + end.reason + "\n";
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer catches the decoder's crash itself and reports it,
    // as far as the confinement lets it; the tool's line comes last.
    if (end.signal == SIGSEGV) {
        const std::string last = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
        EXPECT_EQ(last.rfind("pixremap: cannot read 'input.png': the decoder ", 0), 0u) << run.err;
        return;
    }
#endif
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(list_dir(dir), std::vector<std::string>{"input.png"});
}

INSTANTIATE_TEST_SUITE_P(
    signals, decoder_ends,
    testing::Values(
        decoder_end{SIGSEGV, "the decoder crashed on this file (" +
                                 signal_named(SIGSEGV, "Segmentation fault") + ")"},
        decoder_end{SIGABRT, "the decoder crashed on this file (" + signal_named(SIGABRT, "Aborted") + ")"},
        decoder_end{SIGTRAP, "the decoder crashed on this file (" + signal_named(SIGTRAP, "Trace/breakpoint trap") + ")"},
        // Killed from outside (an operator, a service manager): not the file's doing.
        decoder_end{SIGTERM, "the decoder was killed (" + signal_named(SIGTERM, "Terminated") + ")"},
        decoder_end{SIGUSR1, "the decoder was killed (" + signal_named(SIGUSR1, "User defined signal 1") + ")"},
        decoder_end{SIGSYS, "the decoder was stopped for trying something outside its confinement (" +
                                signal_named(SIGSYS, "Bad system call") + "); the file may be an attack"},
        decoder_end{SIGKILL, "the decoder was killed (" + signal_named(SIGKILL, "Killed") +
                                 "), possibly for lack of memory"},
        decoder_end{SIGXCPU, "the decoder was stopped after 8 seconds of processor time on "
                             "this file (it may be made to hang it)"}),
    [](const testing::TestParamInfo<decoder_end> &p) { return "signal_" + std::to_string(p.param.signal); });

} // namespace
