// phases: the steps of a pixremap run, timed one by one on the given images,
// each image in a process of its own.
//
//     phases [--runs N] IMAGE...        (N defaults to 5)
//
// For each image it runs the tool's own steps N times, in a temporary
// directory: load (the confined decoder, as the tool does it), pass 1, save
// outfirst.png, pass 2, save outsecond.png, release. Beside them it times,
// once a run, decoding the same file without confinement, so that the
// confinement's cost can be told apart from stb's own work, and, once an
// image (in the second run, so that the first run's peak memory is the
// tool's own), writing each output to memory with pixremap's PNG writer and
// with stb_image_write, checking that they agree. It prints each phase's
// median and its share of the run, both writers' throughput, and the peak
// resident memory of the first run's own process (the decoder's process,
// which /usr/bin/time counts in, is apart).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "decode/decode.h"
#include "decode/load.h"
#include "memory_png.h"
#include "png/png_write.h"
#include "remap/remap.h"
#include "save.h"
#include "stb_write.h"

namespace fs = std::filesystem;

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// stb's decode alone, timed inside a fresh process as the confined decoder
// is one: a process that has decoded before would reuse memory it already
// has, which the tool's decoder never can.
double decode_unconfined(const char *path)
{
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        const auto start = clock_type::now();
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        decode_input in;
        decode_from_file(&in, fd, true);
        std::string reason;
        int w = 0, h = 0, c = 0;
        unsigned char *pixels =
            decode_begin(&in, &reason) ? decode_pixels(&in, &w, &h, &c, &reason) : nullptr;
        const double t = pixels ? seconds_since(start) : -1;
        (void)!write(pipe_fds[1], &t, sizeof t);
        _exit(0);
    }
    close(pipe_fds[1]);
    double t = -1;
    (void)!read(pipe_fds[0], &t, sizeof t);
    close(pipe_fds[0]);
    waitpid(pid, nullptr, 0);
    return t;
}

// The high-water mark of this process's resident memory, in bytes, and its
// reset (Linux: writing 5 to /proc/self/clear_refs).
double peak_resident()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) * 1024;
    return 0;
}

void reset_peak_resident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The PNG writer's time and stb_image_write's on the same pixels, each
// writing to memory; both must give the same bytes.
struct encode_times {
    double ours = 0, stb = 0;
    bool same = false;
};

encode_times encode_to_memory(const unsigned char *pixels, int w, int h, int c)
{
    encode_times t;
    auto start = clock_type::now();
    const std::string ours = png_in_memory(pixels, w, h, c);
    t.ours = seconds_since(start);
    start = clock_type::now();
    int size = 0;
    unsigned char *theirs = reference_png(pixels, w, h, c, &size);
    t.stb = seconds_since(start);
    t.same = theirs && ours.size() == static_cast<std::size_t>(size) &&
             std::memcmp(ours.data(), theirs, ours.size()) == 0;
    std::free(theirs);
    return t;
}

// The report for one image; in a process of its own, so that what one
// image's run leaves in the heap doesn't count towards the next one's peak.
int report(const char *name, int runs, const fs::path &work, const fs::path &home)
{
    const std::string path = fs::absolute(name).string();
    std::vector<double> load, pass1, save1, pass2, save2, release, unconfined;
    encode_times encode1, encode2;
    double parent_peak = 0;
    reset_peak_resident();
    int w = 0, h = 0, c = 0;
    for (int run = 0; run < runs; ++run) {
        fs::current_path(work);
        std::string reason;
        // The writer's memory, fresh for each run and shared by its two
        // outputs, as in the tool.
        png_scratch *const scratch = png_scratch_make();
        auto t = clock_type::now();
        unsigned char *pixels = load_image(path.c_str(), &w, &h, &c, &reason);
        load.push_back(seconds_since(t));
        if (!pixels) {
            std::fprintf(stderr, "phases: cannot read '%s': %s\n", path.c_str(), reason.c_str());
            return 1;
        }
        // One map and its output: the pass timed, the writers compared on
        // one run's pixels, the save timed; a save that fails ends the report.
        const auto map_and_save = [&](byte_map map,
                                      const char *output, std::vector<double> &pass,
                                      encode_times &encode, std::vector<double> &save) {
            auto start = clock_type::now();
            remap_pixels(pixels, w, h, c, map);
            pass.push_back(seconds_since(start));
            if (run == 1 || runs == 1)
                encode = encode_to_memory(pixels, w, h, c);
            start = clock_type::now();
            const bool saved = save_png(output, pixels, w, h, c, scratch, &reason) == atomic_result::replaced;
            save.push_back(seconds_since(start));
            if (!saved)
                std::fprintf(stderr, "phases: cannot write '%s': %s\n", output, reason.c_str());
            return saved;
        };
        if (!map_and_save(byte_map::digit, "outfirst.png", pass1, encode1, save1) ||
            !map_and_save(byte_map::bit, "outsecond.png", pass2, encode2, save2)) {
            png_scratch_free(scratch);
            release_image(pixels, w, h, c);
            return 1;
        }
        if (run == 0)
            parent_peak = peak_resident();
        t = clock_type::now();
        png_scratch_free(scratch);
        release_image(pixels, w, h, c);
        release.push_back(seconds_since(t));
        unconfined.push_back(decode_unconfined(path.c_str()));
    }
    fs::current_path(home);

    const double m_load = median(load), m_in = median(unconfined);
    const double m_p1 = median(pass1), m_p2 = median(pass2);
    const double m_s1 = median(save1), m_s2 = median(save2), m_rel = median(release);
    const double total = m_load + m_p1 + m_s1 + m_p2 + m_s2 + m_rel;
    const double confinement = m_load - m_in;
    const double ours = confinement + m_p1 + m_p2 + m_rel;
    std::printf("%s: %dx%d, %d channels, median of %d runs\n", name, w, h, c, runs);
    const auto row = [total](const char *phase, double s) {
        std::printf("  %-34s %9.1f ms %6.2f%%\n", phase, s * 1e3, 100 * s / total);
    };
    row("load (confined decode)", m_load);
    row("  of which stb decode (unconfined)", m_in);
    row("  of which confinement and hand-back", confinement);
    row("pass 1 (digit_remap)", m_p1);
    row("save outfirst.png (encode, write, sync)", m_s1);
    row("  PNG writer alone, to memory, once", encode1.ours);
    row("  stb_image_write alone, once", encode1.stb);
    row("pass 2 (bit_remap)", m_p2);
    row("save outsecond.png (encode, write, sync)", m_s2);
    row("  PNG writer alone, to memory, once", encode2.ours);
    row("  stb_image_write alone, once", encode2.stb);
    row("release", m_rel);
    row("whole run", total);
    row("pixremap's own: confinement, passes, release", ours);
    const double image = static_cast<double>(w) * h * c;
    std::printf("  peak resident memory of the run's own process: %.0f MB, %.2f x the image (%.0f MB), "
                "image + %.1f MiB\n",
                parent_peak / 1e6, parent_peak / image, image / 1e6, (parent_peak - image) / 1048576);
    const double both_ours = encode1.ours + encode2.ours, both_stb = encode1.stb + encode2.stb;
    std::printf("  encode throughput (both outputs): PNG writer %.0f MB/s, stb_image_write %.0f MB/s, "
                "%.2f x; same bytes: %s\n",
                2 * image / both_ours / 1e6, 2 * image / both_stb / 1e6, both_stb / both_ours,
                encode1.same && encode2.same ? "yes" : "NO");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--runs") == 0) {
        runs = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    const fs::path work = fs::temp_directory_path() / ("pixremap-phases-" + std::to_string(getpid()));
    fs::create_directories(work);
    const fs::path home = fs::current_path();

    int status = 0;
    for (int i = first; i < argc; ++i) {
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            const int result = report(argv[i], runs, work, home);
            std::fflush(stdout);
            _exit(result);
        }
        int child = 0;
        if (pid < 0 || waitpid(pid, &child, 0) != pid || !WIFEXITED(child) || WEXITSTATUS(child) != 0)
            status = 1;
    }
    fs::remove_all(work);
    return status;
}
