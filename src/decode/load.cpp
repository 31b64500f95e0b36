// load: see load.h. How the decoder is confined, in full (README.md's
// "Files from anywhere" tells users what it means for them):
//
// The parent opens the file (so that a missing or unreadable file is
// reported with the system's reason), maps shared memory for the pixels and
// opens a pipe for the child's reports, and forks. The child:
//
//   1. confines itself (confine_decoder): no core dumps, no capabilities,
//      a fixed processor-time limit, and a seccomp filter under which it
//      may only read the input, write its reports, manage its own memory
//      (never executable), set its processor-time and address-space limits
//      within the hard limits it has and exit; any other system call kills
//      it with SIGSYS;
//   2. reads the first MiB and from it the size the file declares, and
//      limits its memory and processor time in proportion (reported to the
//      parent, so it can explain a stop): the processor-time limit, the
//      fixed allowance until then, is raised to the budget, never past the
//      run's own limit (ulimit -t) or the hard limit step 1 left;
//   3. decodes, copies the pixels into the shared memory and reports the
//      image's size: the size the decoder made, which may be larger than
//      the header's (a PNG's transparent colour adds an alpha channel).
//
// The parent reads the reports until the pipe closes, collects the child,
// and keeps the part of the shared memory that holds the image: the pixels
// are not copied through the pipe, and the parent never holds a second copy
// of them. The shared memory is reserved at the largest size the decoder can
// produce, 2 GiB (less where an address-space limit won't allow that), and
// costs only the pages the image fills; it is an anonymous mapping rather
// than a memory file, so that a file-size limit meant for the outputs can't
// stop the hand-back. Once the header is read, the child cuts its own view
// of it to the declared image, leaving the rest of the address space to the
// decoder, and grows the view again (mremap, over the same shared pages)
// if the decoded image is larger. Nothing the child says is trusted beyond
// what can be checked: the sizes must be an image with pixels and 1 to 4
// channels that the reservation holds and the decoder's memory budget
// allowed, and the child's words are shown only as printable text.
#include "decode/load.h"
#include "decode/load_internal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <linux/capability.h>
#include <malloc.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "decode/codec.h"
#include "image.h"
#include "printable.h"

#if defined(__SANITIZE_ADDRESS__)
#define PIXREMAP_ADDRESS_SANITIZER 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PIXREMAP_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

// The decoder produces at most 2 GiB of samples (its sizes are ints). On a
// 32-bit machine the reservation for them shares the process's 4 GiB (3 on
// a 32-bit kernel) with the decoder's own working memory, which needs one
// to three and a half times the image: a quarter of it, 1 GiB, leaves the
// decoder room for any image that size.
constexpr std::size_t largest_image = sizeof(void *) >= 8 ? std::size_t{1} << 31 : std::size_t{1} << 30;

// The fixed part of both budgets: what any file gets, sized or not.
constexpr std::uint64_t memory_allowance = 64ull << 20;
constexpr std::uint64_t time_allowance = 8;  // processor seconds
// The sized part: the decoder's working memory per byte of decoded image,
// and its processor time per declared byte, with room for a machine many
// times slower than the one it was measured on.
constexpr std::uint64_t memory_per_image_byte = 4;
constexpr std::uint64_t image_bytes_per_second = 4ull << 20;
// The address space beyond the memory budget: the program, its libraries,
// its stack and the reservation that hands the pixels back.
constexpr std::uint64_t address_space_slack = largest_image + (256ull << 20);

// The most declared bytes that count towards the budgets: the decoder's
// buffers are int-sized (2 GiB), and counting 16-bit samples and whole
// blocks can double that. Headers may declare far more than any decoder
// would take; that buys nothing.
constexpr std::uint64_t largest_declared = 4ull << 30;

// The bytes of the decoded image at the header's sample size, counting
// whole 16x16 blocks (JPEG decodes in blocks of up to 16x16 pixels), at
// most largest_declared. Each side is under 2^32, so their product fits in
// 64 bits; once it passes largest_declared the rest can't bring it back.
std::uint64_t declared_bytes(const image_header &h)
{
    const auto w = (static_cast<std::uint64_t>(std::max(h.width, 0)) + 15) / 16 * 16;
    const auto v = (static_cast<std::uint64_t>(std::max(h.height, 0)) + 15) / 16 * 16;
    const auto c = static_cast<std::uint64_t>(std::clamp(h.channels, 1, 4));
    const auto s = static_cast<std::uint64_t>(std::clamp(h.sample_bytes, 1, 4));
    const std::uint64_t pixels = w * v;
    return pixels > largest_declared ? largest_declared : std::min(pixels * c * s, largest_declared);
}

// Resource limits are 64-bit in this build (_FILE_OFFSET_BITS=64, also on
// 32-bit machines), so no budget is cut short on its way to the kernel.
static_assert(sizeof(rlim_t) >= sizeof(std::uint64_t));

// What the child tells the parent, one report per write. It is smaller than
// PIPE_BUF, so a report is never split or mixed with another.
struct decoder_report {
    static constexpr int header_read = 1, image_ready = 2, failed = 3;
    int kind = failed;
    int sized = 0;  // header_read: whether the header could be read
    image_header header;
    int width = 0, height = 0, channels = 0;  // image_ready
    char reason[256] = {};                    // failed
};
static_assert(sizeof(decoder_report) <= PIPE_BUF);

void send(int fd, const decoder_report &report)
{
    while (write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void fail(int report_fd, const char *reason)
{
    decoder_report report;
    report.kind = decoder_report::failed;
    std::strncpy(report.reason, reason, sizeof report.reason - 1);
    send(report_fd, report);
    _exit(1);
}

[[noreturn]] void fail(int report_fd, const std::string &reason)
{
    fail(report_fd, reason.c_str());
}

// Lowers a limit to soft and hard where it is higher; never raises one:
// the limits the decoder was given are its caller's to set. (prlimit, on
// the process itself, is the one call the filter lets through for this.)
void lower_limit(int resource, std::uint64_t soft, std::uint64_t hard)
{
    rlimit now;
    if (prlimit(0, static_cast<__rlimit_resource>(resource), nullptr, &now) != 0)
        return;
    rlimit value = {std::min<std::uint64_t>(soft, now.rlim_cur), std::min<std::uint64_t>(hard, now.rlim_max)};
    value.rlim_cur = std::min(value.rlim_cur, value.rlim_max);
    prlimit(0, static_cast<__rlimit_resource>(resource), &value, nullptr);
}

// The system calls the decoder may make, by name: each architecture's C
// library makes its own (i386 and armhf seek with _llseek and map with
// mmap2, the 64-bit ones with lseek and mmap), and a name this architecture
// doesn't have is left out. `fd` limits the call to that descriptor
// (argument 0), `no_exec` to memory that isn't executable (argument 2).
struct allowed_call {
    const char *name;
    enum { any, fd_input, fd_report, no_exec } rule;
};

constexpr allowed_call decoder_calls[] = {
    {"read", allowed_call::fd_input},     {"lseek", allowed_call::fd_input},
    {"_llseek", allowed_call::fd_input},  {"write", allowed_call::fd_report},
    {"mmap", allowed_call::no_exec},      {"mmap2", allowed_call::no_exec},
    {"mprotect", allowed_call::no_exec},  {"munmap", allowed_call::any},
    {"mremap", allowed_call::any},        {"brk", allowed_call::any},
    {"madvise", allowed_call::any},       {"exit", allowed_call::any},
    {"exit_group", allowed_call::any},    {"rt_sigreturn", allowed_call::any},
    {"sigreturn", allowed_call::any},
};

// Whether a mapping call takes its arguments through a block in memory,
// which a filter can't read, so that the protection asked for can't be
// checked: i386's old mmap (its C library maps with mmap2), and both of
// s390's. Such a call is refused as if memory had run out, and where that
// leaves no way to map memory, the decoder's heap grows with brk alone.
bool arguments_in_memory(const char *name)
{
#if defined(__s390__)
    return std::strcmp(name, "mmap") == 0 || std::strcmp(name, "mmap2") == 0;
#elif defined(__i386__)
    return std::strcmp(name, "mmap") == 0;
#else
    (void)name;
    return false;
#endif
}

bool can_map_memory()
{
    for (const char *name : {"mmap", "mmap2"})
        if (seccomp_syscall_resolve_name(name) >= 0 && !arguments_in_memory(name))
            return true;
    return false;
}

// Allows only what decoding needs. Any other system call kills the child
// with SIGSYS. No memory may be made executable.
bool install_filter(int input_fd, int report_fd)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (!filter)
        return false;
    const auto fd_is = [](int fd) { return SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(fd)); };
    const auto no_exec = SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0);
    int bad = 0;
    for (const allowed_call &call : decoder_calls) {
        const int nr = seccomp_syscall_resolve_name(call.name);
        if (nr < 0)  // not a call of this architecture
            continue;
        if (arguments_in_memory(call.name)) {
            bad |= seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOMEM), nr, 0);
            continue;
        }
        switch (call.rule) {
        case allowed_call::any: bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, nr, 0); break;
        case allowed_call::fd_input: bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, nr, 1, fd_is(input_fd)); break;
        case allowed_call::fd_report: bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, nr, 1, fd_is(report_fd)); break;
        case allowed_call::no_exec: bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, nr, 1, no_exec); break;
        }
    }
    // Lowering its own limits once the header is read.
    for (const int resource : {RLIMIT_CPU, RLIMIT_AS})
        bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 2,
                                SCMP_A0(SCMP_CMP_EQ, 0),
                                SCMP_A1(SCMP_CMP_EQ, static_cast<scmp_datum_t>(resource)));
#ifdef PIXREMAP_ADDRESS_SANITIZER
    // The sanitizers' runtime: its locks, its signal stack, and its reports
    // on stderr.
    bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(write), 1, fd_is(STDERR_FILENO));
    for (const int call : {SCMP_SYS(futex), SCMP_SYS(sched_yield), SCMP_SYS(getpid),
                           SCMP_SYS(gettid), SCMP_SYS(sigaltstack)})
        bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
#endif
    bad |= seccomp_load(filter);
    seccomp_release(filter);
    return bad == 0;
}

void drop_capabilities()
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    syscall(SYS_capset, &header, none);
}

// Opens a path of any length: one within the system's limit (PATH_MAX)
// directly, a longer one a directory at a time, each step as long as the
// limit allows, so that every name resolves as it would in one open.
int open_any_length(const char *path, int flags)
{
    std::size_t left = std::strlen(path);
    if (left < PATH_MAX)
        return open(path, flags);
    int dir = AT_FDCWD;
    const auto close_dir = [&] {
        if (dir != AT_FDCWD) {
            const int error = errno;
            close(dir);
            errno = error;
        }
    };
    while (left >= PATH_MAX) {
        std::size_t cut = PATH_MAX - 1;  // the last '/' that leaves a step within the limit
        while (cut > 0 && path[cut] != '/')
            --cut;
        if (cut == 0 && path[0] != '/') {
            close_dir();
            errno = ENAMETOOLONG;  // a single name longer than the limit
            return -1;
        }
        const std::string step(path, cut == 0 ? 1 : cut);  // "/" for an absolute path's root
        const int next = openat(dir, step.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        close_dir();
        if (next < 0)
            return -1;
        dir = next;
        path += step.size();
        while (*path == '/')
            ++path;
        left = std::strlen(path);
    }
    const int fd = openat(dir, *path ? path : ".", flags);
    close_dir();
    return fd;
}

// Whole pages, as the shared memory is kept and released.
std::size_t page_rounded(std::size_t size)
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

std::string mebibytes(std::uint64_t bytes)
{
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

// Ends the child for an image the reservation can't hold.
[[noreturn]] void fail_unmappable(int report_fd, std::uint64_t image, std::size_t reserved)
{
    fail(report_fd, "the image needs " + mebibytes(image) + " and this run can map only " + mebibytes(reserved) +
                        " for it (is there an address-space limit?)");
}

// What the child does once it exists: confine, read the header, decode,
// hand back.
[[noreturn]] void decode_and_hand_back(int input_fd, bool seekable, unsigned char *shared,
                                       std::size_t reserved, int report_fd)
{
    // Named apart from the tool in ps, top and profiles.
    prctl(PR_SET_NAME, "pixremap-decode");
    // The run's own processor-time limit (ulimit -t), which the budget
    // never passes.
    rlimit run_time = {RLIM_INFINITY, RLIM_INFINITY};
    getrlimit(RLIMIT_CPU, &run_time);
    if (!confine_decoder(input_fd, report_fd))
        fail(report_fd, "the decoder could not be confined (seccomp is not available)");

    decode_input in;
    decode_from_file(&in, input_fd, seekable);
    std::string reason;
    if (!decode_begin(&in, &reason))
        fail(report_fd, reason);

    decoder_report report;
    report.kind = decoder_report::header_read;
    report.sized = decode_header(in, &report.header);
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
            fail_unmappable(report_fd, image, reserved);
        const std::size_t kept = page_rounded(std::max<std::size_t>(static_cast<std::size_t>(image), 1));
        if (kept < view) {
            munmap(shared + kept, view - kept);
            view = kept;
        }
    }
    const std::uint64_t memory = decoder_memory_budget(declared);
    const std::uint64_t seconds = decoder_time_budget(declared);
    codec_limit_memory(memory);
    limit_decoder_time(seconds, run_time.rlim_cur);
#ifndef PIXREMAP_ADDRESS_SANITIZER
    // The kernel's own cap behind the decoder's count.
    lower_limit(RLIMIT_AS, memory + address_space_slack, memory + address_space_slack);
#endif
    send(report_fd, report);

    int width = 0, height = 0, channels = 0;
    unsigned char *pixels = decode_pixels(&in, &width, &height, &channels, &reason);
    if (!pixels)
        fail(report_fd, reason);

    // The image the decoder made may be larger than the one the header
    // declares: a PNG with a transparent colour (tRNS) gains an alpha
    // channel, and a bitmap's colour masks can add one. The view grows to
    // it, over the same shared memory, as far as the reservation goes.
    const std::uint64_t size = image_samples(width, height, channels);
    if (size > reserved)
        fail_unmappable(report_fd, size, reserved);
    if (size > view) {
        void *grown = mremap(shared, view, page_rounded(static_cast<std::size_t>(size)), MREMAP_MAYMOVE);
        if (grown == MAP_FAILED)
            fail(report_fd, "cannot hand back the image (" + mebibytes(size) + "): " + std::strerror(errno));
        shared = static_cast<unsigned char *>(grown);
    }
    std::memcpy(shared, pixels, static_cast<std::size_t>(size));

    report = decoder_report{};
    report.kind = decoder_report::image_ready;
    report.width = width;
    report.height = height;
    report.channels = channels;
    send(report_fd, report);
    _exit(0);
}

// The child: never returns. Memory running out outside the decoder's own
// allocations (its input buffer, a message) is reported as such, without
// allocating, rather than ending the child through abort, which its
// confinement doesn't allow.
[[noreturn]] void run_decoder(int input_fd, bool seekable, unsigned char *shared,
                              std::size_t reserved, int report_fd)
{
    try {
        decode_and_hand_back(input_fd, seekable, shared, reserved, report_fd);
    } catch (const std::bad_alloc &) {
        fail(report_fd, "Out of memory");
    }
}

// The child's words, as one line of printable text.
std::string decoder_words(const char *text, std::size_t size)
{
    const std::string shown = printable(std::string_view(text, strnlen(text, size)));
    return shown.empty() ? "the decoder failed" : shown;
}

// "signal 11, Segmentation fault": the number this machine gives the
// signal, and its description.
std::string signal_text(int sig)
{
    const char *description = strsignal(sig);
    return "signal " + std::to_string(sig) + (description ? std::string(", ") + description : "");
}

// What became of a child that handed back no image.
// `given` is the processor-time limit the run itself was given (ulimit -t),
// which the decoder's budget never exceeds.
std::string explain_end(int status, const rusage &usage, const decoder_report &header,
                        const rlimit &given)
{
    const image_header *declared = header.sized ? &header.header : nullptr;
    const std::uint64_t budget = decoder_time_budget(declared);
    const std::uint64_t seconds = std::min<std::uint64_t>(budget, given.rlim_cur);
    const std::uint64_t hard = std::min<std::uint64_t>(budget + 1, given.rlim_max);
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const double used = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        // The kernel counts in ticks; a process killed at its hard limit
        // has used at least nearly that much.
        const bool out_of_time = sig == SIGXCPU || (sig == SIGKILL && used + 0.5 >= static_cast<double>(hard));
        const std::uint64_t stopped_at = std::min(seconds, hard);
        if (out_of_time && seconds < budget)
            return "the decoder was stopped by this run's processor-time limit (ulimit -t) after " +
                   std::to_string(stopped_at) + (stopped_at == 1 ? " second" : " seconds");
        if (out_of_time)
            return "the decoder was stopped after " + std::to_string(seconds) +
                   " seconds of processor time on this file (it may be made to hang it)";
        if (sig == SIGSYS)
            return "the decoder was stopped for trying something outside its confinement (" +
                   signal_text(sig) + "); the file may be an attack";
        if (sig == SIGKILL)
            return "the decoder was killed (" + signal_text(sig) + "), possibly for lack of memory";
        return "the decoder crashed on this file (" + signal_text(sig) + ")";
    }
    return "the decoder stopped without a result (exit status " +
           std::to_string(WEXITSTATUS(status)) + ")";
}

// Reads the child's reports until it closes the pipe, then collects it.
// Returns the last report; header gets the size the file declared.
decoder_report collect(pid_t pid, int report_fd, decoder_report *header, int *status,
                       rusage *usage)
{
    decoder_report last, report;
    last.kind = 0;
    for (;;) {
        const ssize_t n = read(report_fd, &report, sizeof report);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (n != static_cast<ssize_t>(sizeof report))
            continue;  // not a report this program writes
        if (report.kind == decoder_report::header_read)
            *header = report;
        else
            last = report;
    }
    while (wait4(pid, status, 0, usage) < 0 && errno == EINTR) {
    }
    return last;
}

} // namespace

bool confine_decoder(int input_fd, int report_fd)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    lower_limit(RLIMIT_CORE, 0, 0);
    // Readable memory must not become executable behind the filter's back
    // (a personality the caller may have set, as `setarch -X` does).
    const int persona = personality(0xffffffff);
    if (persona != -1 && (persona & READ_IMPLIES_EXEC))
        personality(static_cast<unsigned long>(persona & ~READ_IMPLIES_EXEC));
    // Where no mapping call can be checked, the heap grows with brk alone.
    if (!can_map_memory())
        mallopt(M_MMAP_MAX, 0);
    // Until the header is read, the fixed allowance of processor time; the
    // hard limit is the most any declared size could be given.
    lower_limit(RLIMIT_CPU, time_allowance, time_allowance + largest_declared / image_bytes_per_second + 1);
    drop_capabilities();
    return install_filter(input_fd, report_fd);
}

void limit_decoder_time(std::uint64_t seconds, std::uint64_t run_soft)
{
    rlimit now;
    if (prlimit(0, RLIMIT_CPU, nullptr, &now) != 0)
        return;
    rlimit value;
    value.rlim_max = std::min<std::uint64_t>(seconds + 1, now.rlim_max);
    value.rlim_cur = std::min<std::uint64_t>({seconds, run_soft, value.rlim_max});
    prlimit(0, RLIMIT_CPU, &value, nullptr);
}

std::uint64_t decoder_memory_budget(const image_header *declared)
{
    return memory_allowance + (declared ? memory_per_image_byte * declared_bytes(*declared) : 0);
}

std::uint64_t decoder_time_budget(const image_header *declared)
{
    return time_allowance + (declared ? declared_bytes(*declared) / image_bytes_per_second : 0);
}

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
    for (reserved = largest_image; reserved >= (16u << 20); reserved = page_rounded(reserved - reserved / 8)) {
        shared = mmap(nullptr, reserved + memory_allowance, PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (shared != MAP_FAILED) {
            munmap(static_cast<unsigned char *>(shared) + reserved, memory_allowance);
            break;
        }
    }
    if (shared == MAP_FAILED || pipe2(pipe_fds, O_CLOEXEC) != 0)
        return give_up(std::string("cannot start the decoder: ") + std::strerror(errno));

    const pid_t pid = fork();
    if (pid < 0)
        return give_up(std::string("cannot start the decoder: ") + std::strerror(errno));
    if (pid == 0) {
        close(pipe_fds[0]);
        run_decoder(fd, S_ISREG(st.st_mode), static_cast<unsigned char *>(shared), reserved,
                    pipe_fds[1]);
    }
    close(pipe_fds[1]);
    pipe_fds[1] = -1;

    decoder_report header;
    header.kind = 0;
    rlimit given_time = {RLIM_INFINITY, RLIM_INFINITY};
    getrlimit(RLIMIT_CPU, &given_time);
    int status = 0;
    rusage usage = {};
    const decoder_report last = collect(pid, pipe_fds[0], &header, &status, &usage);
    close_all();

    if (last.kind == decoder_report::failed)
        return give_up(decoder_words(last.reason, sizeof last.reason));
    if (last.kind != decoder_report::image_ready || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return give_up(explain_end(status, usage, header, given_time));
    // The child is held to the image it says it made: one that has pixels
    // and 1 to 4 channels, fits the shared memory, and could have been
    // made within the memory the decoder was allowed.
    const int w = last.width, h = last.height, c = last.channels;
    const std::uint64_t size = image_samples(w, h, c);
    const auto refuse = [&](const std::string &why) {
        return give_up("the decoder handed back a " + std::to_string(w) + "x" + std::to_string(h) + " image of " +
                       std::to_string(c) + " channels, " + why);
    };
    if (w <= 0 || h <= 0)
        return refuse("which has no pixels");
    if (c < 1 || c > 4)
        return refuse("which no PNG can hold");
    if (size > reserved)
        return refuse("larger than the " + mebibytes(reserved) + " reserved for it");
    if (size > decoder_memory_budget(header.sized ? &header.header : nullptr))
        return refuse("larger than the memory it was allowed");

    const std::size_t kept = page_rounded(static_cast<std::size_t>(size));
    if (kept < reserved)
        munmap(static_cast<unsigned char *>(shared) + kept, reserved - kept);
    *width = w;
    *height = h;
    *channels = c;
    return static_cast<unsigned char *>(shared);
}

void release_image(unsigned char *pixels, int width, int height, int channels)
{
    munmap(pixels, page_rounded(static_cast<std::size_t>(image_samples(width, height, channels))));
}
