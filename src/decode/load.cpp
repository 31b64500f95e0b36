// load: see load.h. How the decoder is confined, in full (README.md's
// "Files from anywhere" tells users what it means for them):
//
// The parent opens the file (so that a missing or unreadable file is
// reported with the system's reason), maps shared memory for the pixels and
// opens a pipe for the child's reports, sets SIGCHLD to its default (a
// caller that ignores it would have the kernel reap the child, and its end
// would be lost), and forks. The child:
//
//   1. confines itself (confine.h): it dies with its parent and ends at
//      once if the parent is already gone; no core dumps, no capabilities,
//      a fixed processor-time limit, and a seccomp filter under which it
//      may only read the input, write its reports, manage its own memory
//      (never executable), set its processor-time and address-space limits
//      within the hard limits it has and exit; any other system call kills
//      it with SIGSYS;
//   2. reads the first MiB and from it the size the file declares, and
//      limits its memory and processor time in proportion (budget.h; the
//      header is reported to the parent, which works out the same budget
//      to enforce and explain it);
//   3. decodes, copies the pixels into the shared memory and reports the
//      image's size: the size the decoder made, which may be larger than
//      the header's (a PNG's transparent colour adds an alpha channel).
//
// Memory running out in the child outside the decoder's own allocations
// (its input buffer, a message) is reported as "Out of memory" by the
// new-handler, which ends the child: nothing there throws, since the first
// exception would set up the unwinder with calls the filter forbids.
//
// The parent reads the reports until the pipe closes, watching the child's
// processor time as it goes: at the budget's soft limit it kills the child
// itself, so that the budget holds where the system refuses to set limits.
// Then it collects the child, and keeps the part of the shared memory that
// holds the image: the pixels are not copied through the pipe, and the
// parent never holds a second copy of them. The shared memory is reserved
// at the largest size the decoder can produce, 2 GiB (less where an
// address-space limit won't allow that), and costs only the pages the image
// fills; it is an anonymous mapping rather than a memory file, so that a
// file-size limit meant for the outputs can't stop the hand-back. Once the
// header is read, the child cuts its own view of it to the declared image,
// leaving the rest of the address space to the decoder, and grows the view
// again (mremap, over the same shared pages) if the decoded image is
// larger. Nothing the child says is trusted beyond what can be checked: the
// sizes must be an image with pixels and 1 to 4 channels that the
// reservation holds and the decoder's memory budget allowed, and the
// child's words are shown only as printable text (report.h).
#include "decode/load.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <new>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "decode/budget.h"
#include "decode/codec.h"
#include "decode/confine.h"
#include "decode/open_path.h"
#include "decode/report.h"
#include "image.h"

namespace {

// Whole pages, as the shared memory is kept and released.
std::size_t page_rounded(std::size_t size)
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

// Maps the pages of [start, start + size) in one call, `how` being
// MADV_POPULATE_READ or _WRITE; a kernel without these does nothing, and
// the pages come a fault at a time as before.
void prefault(void *start, std::size_t size, int how)
{
    madvise(start, page_rounded(size), how);
}

// The child's report pipe, for its new-handler, which is given no context:
// set once in the child, before anything can run out of memory.
int report_fd_for_new_handler = -1;

void report_out_of_memory()
{
    send_failure(report_fd_for_new_handler, out_of_memory_words);
}

// What the child does once it exists: confine, read the header, decode,
// hand back. Never returns.
[[noreturn]] void decode_and_hand_back(int input_fd, bool seekable, unsigned char *shared,
                                       std::size_t reserved, int report_fd, pid_t parent,
                                       const rlimit &run_time)
{
    report_fd_for_new_handler = report_fd;
    std::set_new_handler(report_out_of_memory);
    // Named apart from the tool in ps, top and profiles.
    prctl(PR_SET_NAME, "pixremap-decode");
    if (!confine_decoder(input_fd, report_fd, parent, run_time))
        send_failure(report_fd, unconfined_words);

    decode_input in;
    decode_from_file(&in, input_fd, seekable);
    std::string reason;
    if (!decode_begin(&in, &reason))
        send_failure(report_fd, reason.c_str());

    decoder_report report;
    report.kind = report_kind::header_read;
    report.sized = decode_header(in, &report.header);
    const std::uint64_t reach = decode_header_reach(in);
    const image_header *declared = report.sized ? &report.header : nullptr;
    // The child's view of the hand-back: all of the reservation until the
    // header is read, then the image the file declares.
    std::size_t view = reserved;
    if (declared) {
        // The view is cut to the image the file declares (at least a page,
        // which the view grows from if the decoder makes more), so that
        // the rest of the address space (under a limit, all there is) is
        // the decoder's to work in.
        const std::uint64_t image =
            image_samples(declared->width, declared->height, std::clamp(declared->channels, 1, 4));
        if (image > reserved)
            send_failure(report_fd, unmappable_words(image, reserved).c_str());
        const std::size_t kept = page_rounded(std::max<std::size_t>(static_cast<std::size_t>(image), 1));
        if (kept < view) {
            munmap(shared + kept, view - kept);
            view = kept;
        }
    }
    const decoder_budget budget = decoder_budget_for(declared, run_time);
    codec_limit_memory(budget.memory);
    limit_decoder(budget);
    send_report(report_fd, report);

    int width = 0, height = 0, channels = 0;
    unsigned char *pixels = decode_pixels(&in, &width, &height, &channels, &reason);
    if (!pixels && !declared && reason == out_of_memory_words)
        reason = unsized_words(reach);
    if (!pixels)
        send_failure(report_fd, reason.c_str());

    // The image the decoder made may be larger than the one the header
    // declares: a PNG with a transparent colour (tRNS) gains an alpha
    // channel, and a bitmap's colour masks can add one. The view grows to
    // it, over the same shared memory, as far as the reservation goes.
    const std::uint64_t size = image_samples(width, height, channels);
    if (size > reserved)
        send_failure(report_fd, unmappable_words(size, reserved).c_str());
    if (size > view) {
        void *grown = mremap(shared, view, page_rounded(static_cast<std::size_t>(size)), MREMAP_MAYMOVE);
        if (grown == MAP_FAILED)
            send_failure(report_fd, hand_back_words(size, errno).c_str());
        shared = static_cast<unsigned char *>(grown);
    }
    // The shared pages made in one call rather than a fault each as the
    // copy reaches them (where the kernel can: Linux 5.14 on).
    prefault(shared, static_cast<std::size_t>(size), MADV_POPULATE_WRITE);
    std::memcpy(shared, pixels, static_cast<std::size_t>(size));

    report = decoder_report{};
    report.kind = report_kind::image_ready;
    report.width = width;
    report.height = height;
    report.channels = channels;
    send_report(report_fd, report);
    _exit(0);
}

// The processor seconds a process has used by its clock, or -1.
double seconds_used(clockid_t clock)
{
    timespec used;
    if (clock_gettime(clock, &used) != 0)
        return -1;
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

// How long to wait for a report before looking at the child's processor
// time again: it can't use more than the time that passes.
int milliseconds_until(double seconds)
{
    return static_cast<int>(std::min(seconds * 1000 + 1, double{INT_MAX}));
}

// Reads the child's reports until it closes the pipe, kills it (SIGKILL)
// once it has used the processor time of its limit, and collects it. The
// kernel stops it there too, where the child could set the limit; this
// holds where it couldn't. `header` gets the size the file declared,
// `last` the final report, `end` how the child ended.
void watch_decoder(pid_t pid, int report_fd, const rlimit &run_time, decoder_report *header,
                   decoder_report *last, decoder_end *end)
{
    clockid_t clock;
    const bool clocked = clock_getcpuclockid(pid, &clock) == 0;
    end->time = decoder_first_time_limit(run_time);
    for (;;) {
        int timeout = -1;
        const double used = clocked && !end->stopped_for_time ? seconds_used(clock) : -1;
        if (used >= static_cast<double>(end->time.soft)) {
            kill(pid, SIGKILL);
            end->stopped_for_time = true;
        } else if (used >= 0) {
            timeout = milliseconds_until(static_cast<double>(end->time.soft) - used);
        }
        pollfd ready = {report_fd, POLLIN, 0};
        const int n_ready = poll(&ready, 1, timeout);
        if (n_ready == 0 || (n_ready < 0 && errno == EINTR))
            continue;
        decoder_report report;
        const ssize_t n = read(report_fd, &report, sizeof report);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (n != static_cast<ssize_t>(sizeof report))
            continue;  // not a report this program writes
        if (report.kind == report_kind::header_read) {
            *header = report;
            end->time = decoder_budget_for(report.sized ? &report.header : nullptr, run_time).time;
        } else {
            *last = report;
        }
    }
    int status = 0;
    rusage usage = {};
    pid_t collected;
    while ((collected = wait4(pid, &status, 0, &usage)) < 0 && errno == EINTR) {
    }
    end->collected = collected == pid;
    end->wait_error = end->collected ? 0 : errno;
    end->status = status;
    end->processor_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

unsigned char *load_image(const char *path, int *width, int *height, int *channels,
                          std::string *reason)
{
    const int fd = open_any_length(path, O_RDONLY | O_CLOEXEC);
    struct stat st;
    const int error = fd < 0                  ? errno
                      : fstat(fd, &st) != 0   ? errno
                      : S_ISDIR(st.st_mode)   ? EISDIR
                                              : 0;
    void *shared = MAP_FAILED;
    std::size_t reserved = 0;
    int pipe_fds[2] = {-1, -1};
    const auto close_all = [&] {
        for (const int open_fd : {fd, pipe_fds[0], pipe_fds[1]})
            if (open_fd >= 0)
                close(open_fd);
    };
    const auto give_up = [&](const std::string &why) -> unsigned char * {
        *reason = why;
        close_all();
        if (shared != MAP_FAILED)
            munmap(shared, reserved);
        return nullptr;
    };
    if (error)
        return give_up(std::strerror(error));
    // Under an address-space limit (ulimit -v) the reservation shrinks, an
    // eighth at a time, until it fits with the decoder's fixed allowance
    // beside it, for the decoder to start in: the more room the limit
    // leaves, the larger it is. The decoder cuts it to the image the file
    // declares, and refuses an image larger than it.
    for (reserved = decoder_largest_image; reserved >= (16u << 20); reserved = page_rounded(reserved - reserved / 8)) {
        shared = mmap(nullptr, reserved + decoder_memory_allowance, PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (shared != MAP_FAILED) {
            munmap(static_cast<unsigned char *>(shared) + reserved, decoder_memory_allowance);
            break;
        }
    }
    if (shared == MAP_FAILED || pipe2(pipe_fds, O_CLOEXEC) != 0)
        return give_up(start_words(errno));

    // The run's own processor-time limit (ulimit -t), which the budget
    // never passes; unlimited where the system won't say.
    rlimit run_time = {RLIM_INFINITY, RLIM_INFINITY};
    getrlimit(RLIMIT_CPU, &run_time);
    struct sigaction default_action = {}, caller_action;
    default_action.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &default_action, &caller_action);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipe_fds[0]);
        decode_and_hand_back(fd, S_ISREG(st.st_mode), static_cast<unsigned char *>(shared), reserved,
                             pipe_fds[1], parent, run_time);
    }
    const int fork_error = errno;
    close(pipe_fds[1]);
    pipe_fds[1] = -1;
    decoder_report header, last;
    decoder_end end;
    if (pid > 0)
        watch_decoder(pid, pipe_fds[0], run_time, &header, &last, &end);
    sigaction(SIGCHLD, &caller_action, nullptr);
    if (pid < 0)
        return give_up(start_words(fork_error));
    close_all();

    if (last.kind == report_kind::failed)
        return give_up(failure_words(last));
    if (last.kind != report_kind::image_ready || !end.collected || !WIFEXITED(end.status) ||
        WEXITSTATUS(end.status) != 0)
        return give_up(end_words(end));
    // The child is held to the image it says it made: one that has pixels
    // and 1 to 4 channels, fits the shared memory, and could have been
    // made within the memory the decoder was allowed.
    const std::uint64_t size = image_samples(last.width, last.height, last.channels);
    const auto refuse = [&](refused_image why) { return give_up(refusal_words(last, why, reserved)); };
    if (last.width <= 0 || last.height <= 0)
        return refuse(refused_image::no_pixels);
    if (last.channels < 1 || last.channels > 4)
        return refuse(refused_image::no_png_channels);
    if (size > reserved)
        return refuse(refused_image::past_reservation);
    if (size > decoder_memory_budget(header.sized ? &header.header : nullptr))
        return refuse(refused_image::past_memory_budget);

    const std::size_t kept = page_rounded(static_cast<std::size_t>(size));
    if (kept < reserved)
        munmap(static_cast<unsigned char *>(shared) + kept, reserved - kept);
    // The child's pages mapped here in one call, not a fault each as the
    // first pass reaches them.
    prefault(shared, kept, MADV_POPULATE_READ);
    *width = last.width;
    *height = last.height;
    *channels = last.channels;
    return static_cast<unsigned char *>(shared);
}

void release_image(unsigned char *pixels, int width, int height, int channels)
{
    munmap(pixels, page_rounded(static_cast<std::size_t>(image_samples(width, height, channels))));
}
