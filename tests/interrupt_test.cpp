// Interrupted runs: every signal whose default action ends a process sent
// at many moments of a run over existing outputs, and at the moment an
// output is being written. Whenever it comes, no temporary file is left
// behind and each output is either the old file or the whole new one; a
// run the signal ends is ended by that signal. That holds for outputs made
// as unnamed files, even for SIGKILL, and for outputs made as hidden named
// files where unnamed ones can't be made (fault_injection.c makes it so).
// A file-size limit reached part-way through an output fails that output
// alone, cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"
#include "remap/remap.h"

namespace {

// A PPM of about 18 MB, quick to decode and slow enough to write that a
// signal can land inside each step of the run.
void write_large_input(const fs::path &file)
{
    const int width = 3000, height = 2000;
    std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    unsigned state = 1;
    for (int i = 0; i < width * height * 3; ++i) {
        state = state * 1103515245u + 12345u;
        ppm += static_cast<char>(i / 3 % width / 12 + i / (3 * width) / 8 + (state >> 28));
    }
    write_file(file, ppm);
}

struct spawned {
    pid_t pid;
    std::chrono::steady_clock::time_point start;
};

// Signals whose default action ends the process and that a process can
// catch, sent by another: the common ones, those that faults raise, those
// Linux adds, and real-time signals, the first two of which the C library
// keeps for itself and can't catch.
std::vector<int> ending_signals()
{
    std::vector<int> signals = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2,
                                SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGILL, SIGTRAP, SIGABRT, SIGBUS,
                                SIGFPE,  SIGSEGV, SIGSYS,  SIGPWR,  32,      33,      SIGRTMIN, SIGRTMAX};
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer's runtime catches these itself, to report a crash,
    // wherever pixremap has no handler of its own.
    std::erase_if(signals, [](int sig) { return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE; });
#endif
    return signals;
}

// "SIGRTMIN+3" as a test name: RTMIN_3.
std::string signal_name(int sig)
{
    const char *abbreviation = sigabbrev_np(sig);
    if (abbreviation)
        return abbreviation;
    return sig < SIGRTMIN ? "signal_" + std::to_string(sig) : "RTMIN_" + std::to_string(sig - SIGRTMIN);
}

// The signal's default action, whatever the caller set: GNU make, for
// one, runs its commands with the real-time signals 32 and 33 ignored,
// which pixremap would rightly keep ignoring. The C library refuses to set
// those two, so the kernel is asked directly: an all-zero sigaction is the
// default action in every architecture's layout of it.
void default_action(int sig)
{
    const unsigned char zeros[128] = {};
    syscall(SYS_rt_sigaction, sig, zeros, nullptr, (_NSIG - 1) / 8);
}

// No core files from the signals that would leave one.
void no_core_files()
{
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

spawned start_pixremap(const fs::path &dir, const std::function<void()> &before_exec = {})
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0 || chdir(dir.c_str()) != 0)
            _exit(125);
        if (before_exec)
            before_exec();
        execl(pixremap_binary().c_str(), "pixremap", "in.ppm", static_cast<char *>(nullptr));
        _exit(126);
    }
    return {pid, start};
}

int wait_for(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

using interrupted = temp_dir_fixture<>;

// How outputs are made: "unnamed" files, or "named" hidden ones where the
// file system can't make unnamed files.
using interrupted_runs = with_temp_dir<std::string>;

TEST_P(interrupted_runs, leave_old_or_whole_new_outputs_and_no_temporary)
{
    const bool named = GetParam() == "named";
    const auto set_up = [named] {
        no_core_files();
        for (const int sig : ending_signals())
            default_action(sig);
        if (named)
            with_faults("no_tmpfile")();
    };
    write_large_input(dir / "in.ppm");
    const fs::path done = dir / "done";
    fs::create_directory(done);
    fs::copy_file(dir / "in.ppm", done / "in.ppm");
    const spawned whole = start_pixremap(done, set_up);
    ASSERT_EQ(wait_for(whole.pid), 0);
    const double run_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - whole.start).count();
    const std::string new_first = read_file(done / "outfirst.png"), new_second = read_file(done / "outsecond.png");

    // SIGKILL too, where nothing is left to clean up after it.
    std::vector<int> signals = ending_signals();
    if (!named)
        signals.push_back(SIGKILL);
    const int moments = 26;
    int ended_by_signal = 0;
    for (int k = 0; k < moments; ++k) {
        const int sig = signals[static_cast<std::size_t>(k) % signals.size()];
        const double at = run_seconds * (k + 0.5) / moments;
        SCOPED_TRACE(testing::Message() << "signal " << sig << " after " << at << " s of " << run_seconds);
        const fs::path work = dir / ("run" + std::to_string(k));
        fs::create_directory(work);
        fs::copy_file(dir / "in.ppm", work / "in.ppm");
        write_file(work / "outfirst.png", "old first");
        write_file(work / "outsecond.png", "old second");

        const spawned run = start_pixremap(work, set_up);
        std::this_thread::sleep_until(run.start + std::chrono::duration<double>(at));
        kill(run.pid, sig);
        const int status = wait_for(run.pid);
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), sig);
            ++ended_by_signal;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        }
        EXPECT_EQ(list_dir(work), (std::vector<std::string>{"in.ppm", "outfirst.png", "outsecond.png"}));
        const std::string first = read_file(work / "outfirst.png"), second = read_file(work / "outsecond.png");
        EXPECT_TRUE(first == "old first" || first == new_first);
        EXPECT_TRUE(second == "old second" || (second == new_second && first == new_first));
        fs::remove_all(work);
    }
    EXPECT_GE(ended_by_signal, moments / 2) << "the signals came too late to test anything";
}

INSTANTIATE_TEST_SUITE_P(all, interrupted_runs, testing::Values("unnamed", "named"),
                         [](const testing::TestParamInfo<std::string> &p) { return p.param; });

// Each signal raised while the first output is being written: the run
// ends by it and leaves the old outputs and nothing else. Hidden named
// files are removed by the signal's handler; an unnamed file needs
// nothing, even after SIGKILL. The signals the C library keeps can't be
// handled: they wait until the first output has its name, and end the run
// then; so does any signal that comes while an output is being named
// (fault_injection.c sends it just after the link), leaving no hidden
// name behind.
struct signal_mid_write {
    int sig;
    std::string faults;
    bool first_new;  // the first output is the new one when the run ends
};

void PrintTo(const signal_mid_write &c, std::ostream *out) { *out << signal_name(c.sig) << " " << c.faults; }

using signals_mid_write = with_temp_dir<signal_mid_write>;

TEST_P(signals_mid_write, end_the_run_and_leave_no_file)
{
    const signal_mid_write c = GetParam();
    fs::copy_file(fixture("rgb.png"), dir / "in.png");
    write_file(dir / "outfirst.png", "old first");
    write_file(dir / "outsecond.png", "old second");
    const run_result run = run_pixremap(dir, {"in.png"}, [c] {
        no_core_files();
        default_action(c.sig);
        with_faults(c.faults)();
    });
    EXPECT_EQ(run.status, 128 + c.sig) << run.err;
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"in.png", "outfirst.png", "outsecond.png"}));
    if (c.first_new) {
        const decoded input = stb_decode(fixture("rgb.png"));
        const auto first = apply_map(input.pixels, input.channels, digit_remap);
        EXPECT_TRUE(read_file(dir / "outfirst.png") == stb_png(first.data(), input.width, input.height, input.channels));
    } else {
        EXPECT_EQ(read_file(dir / "outfirst.png"), "old first");
    }
    EXPECT_EQ(read_file(dir / "outsecond.png"), "old second");
}

std::vector<signal_mid_write> mid_write_cases()
{
    std::vector<signal_mid_write> cases;
    for (const int sig : ending_signals())
        cases.push_back({sig, "no_tmpfile,signal_on_write=" + std::to_string(sig), sig >= 32 && sig < SIGRTMIN});
    cases.push_back({SIGKILL, "kill_on_write", false});
    for (const int sig : {SIGTERM, SIGPWR, SIGRTMIN, 32})
        cases.push_back({sig, "signal_on_link=" + std::to_string(sig), true});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(all, signals_mid_write, testing::ValuesIn(mid_write_cases()),
                         [](const testing::TestParamInfo<signal_mid_write> &p) {
                             const std::string &f = p.param.faults;
                             return signal_name(p.param.sig) + (f.find("no_tmpfile") == 0 ? "_named"
                                                                : f.find("link") != std::string::npos ? "_while_naming"
                                                                                                      : "_unnamed");
                         });

// A signal the caller ignores (nohup) stays ignored while an output is
// written: the run goes on to the end.
TEST_F(interrupted, an_ignored_hangup_is_still_ignored)
{
    write_large_input(dir / "in.ppm");
    const spawned run = start_pixremap(dir, [] { std::signal(SIGHUP, SIG_IGN); });
    for (int k = 0; k < 20; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(run.pid, SIGHUP);
    }
    EXPECT_EQ(wait_for(run.pid), 0);
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"in.ppm", "outfirst.png", "outsecond.png"}));
}

// A file-size limit of a third of an output: its writing fails part-way
// with EFBIG (pixremap itself keeps SIGXFSZ from ending it), the old file
// stays and no temporary is left.
TEST_F(interrupted, a_file_size_limit_part_way_fails_the_output_cleanly)
{
    write_large_input(dir / "in.ppm");
    const spawned whole = start_pixremap(dir);
    ASSERT_EQ(wait_for(whole.pid), 0);
    const auto limit = static_cast<rlim_t>(fs::file_size(dir / "outfirst.png") / 3);
    ASSERT_GT(limit, 1u << 20);
    write_file(dir / "outfirst.png", "old first");
    fs::remove(dir / "outsecond.png");
    const run_result run = run_pixremap(dir, {"in.ppm"}, [limit] {
        const rlimit cap{limit, limit};
        setrlimit(RLIMIT_FSIZE, &cap);
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "pixremap: cannot write 'outfirst.png': File too large\n"
                       "pixremap: cannot write 'outsecond.png': File too large\n");
    EXPECT_EQ(read_file(dir / "outfirst.png"), "old first");
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"in.ppm", "outfirst.png"}));
}

} // namespace
