// atomic_file: see atomic_file.h.
#include "atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// File offsets are 64-bit in this build (_FILE_OFFSET_BITS=64), so a file
// may pass 2 GiB on a 32-bit machine too.
static_assert(sizeof(off_t) >= sizeof(std::uint64_t));

namespace {

// ---- the signals ------------------------------------------------------------

// Whether a signal's default action ends the process: every one but those
// that by default are ignored or stop or continue it, so that the
// real-time signals and any an architecture adds (SIGPWR, SIGSTKFLT, SIGEMT)
// count. SIGKILL can't be caught; SIGXFSZ is ignored from open to commit
// (a file-size limit is a failed write, as a full disk is).
bool ends_the_process(int sig)
{
    switch (sig) {
    case SIGKILL:
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGCONT:
    case SIGCHLD:
    case SIGURG:
    case SIGWINCH:
    case SIGXFSZ:
        return false;
    default:
        return true;
    }
}

// A signal set as the kernel reads it. The C library keeps a few real-time
// signals for itself (its sigaddset and sigprocmask leave them out), but
// anyone may send them, and by default they end the process; so sets are
// built bit by bit, in the kernel's layout (bit sig - 1 of an array of
// unsigned longs, which glibc's sigset_t shares), and passed to the kernel
// directly.
constexpr int ulong_bits = CHAR_BIT * sizeof(unsigned long);
constexpr std::size_t kernel_set_bytes = (_NSIG - 1) / CHAR_BIT;
static_assert(kernel_set_bytes <= sizeof(sigset_t));

void add_signal(sigset_t *set, int sig)
{
    set->__val[(sig - 1) / ulong_bits] |= 1ul << ((sig - 1) % ulong_bits);
}

void drop_signal(sigset_t *set, int sig)
{
    set->__val[(sig - 1) / ulong_bits] &= ~(1ul << ((sig - 1) % ulong_bits));
}

bool has_signal(const sigset_t &set, int sig)
{
    return (set.__val[(sig - 1) / ulong_bits] >> ((sig - 1) % ulong_bits)) & 1;
}

void set_mask(int how, const sigset_t *set, sigset_t *old)
{
    syscall(SYS_rt_sigprocmask, how, set, old, kernel_set_bytes);
}

sigset_t ending_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig = 1; sig < _NSIG; ++sig)
        if (ends_the_process(sig))
            add_signal(&set, sig);
    return set;
}

// While a hidden file exists, every ending signal that can be caught
// removes it first, and those the C library keeps (which can't be) wait,
// blocked. A signal handler is given no context, so the name is kept here:
// the only state of this unit, set only while the signals are held.
char hidden_for_handler[PATH_MAX];
volatile sig_atomic_t hidden_exists = 0;
struct sigaction before[_NSIG], before_xfsz;
bool handled[_NSIG];
sigset_t blocked_while_hidden;  // the C library's own, blocked here for it

extern "C" void remove_hidden_and_end(int sig)
{
    if (hidden_exists)
        unlink(hidden_for_handler);
    struct sigaction fall = {};
    fall.sa_handler = SIG_DFL;
    sigemptyset(&fall.sa_mask);
    sigaction(sig, &fall, nullptr);
    sigset_t only;
    sigemptyset(&only);
    add_signal(&only, sig);
    set_mask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
    _exit(128 + sig);  // should the signal not end the process after all
}

// Holds every ending signal back while the calls between this and
// release() run, so that none of them sees a half-done step.
sigset_t hold()
{
    const sigset_t set = ending_set();
    sigset_t old;
    sigemptyset(&old);
    set_mask(SIG_BLOCK, &set, &old);
    return old;
}

void release(const sigset_t &old)
{
    set_mask(SIG_SETMASK, &old, nullptr);
}

// Ignores SIGXFSZ and, for a file with a name, sets the handlers that
// remove it, and adds to `mask` (the mask release() restores) the ending
// signals that can't be handled. Called with the signals held, once a file
// is open.
void arm(bool with_handlers, sigset_t *mask)
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &before_xfsz);
    if (!with_handlers)
        return;
    struct sigaction remove = {};
    remove.sa_handler = remove_hidden_and_end;
    sigfillset(&remove.sa_mask);
    sigemptyset(&blocked_while_hidden);
    for (int sig = 1; sig < _NSIG; ++sig) {
        if (!ends_the_process(sig))
            continue;
        const bool catchable = sigaction(sig, nullptr, &before[sig]) == 0;
        handled[sig] = catchable && before[sig].sa_handler != SIG_IGN;
        if (handled[sig])
            sigaction(sig, &remove, nullptr);
        else if (!catchable && !has_signal(*mask, sig))
            add_signal(&blocked_while_hidden, sig);
    }
    for (int sig = 1; sig < _NSIG; ++sig)
        if (has_signal(blocked_while_hidden, sig))
            add_signal(mask, sig);
}

// The signals act as before arm(with_handlers), and `mask` loses what arm
// added to it. Called with the signals held, once for each arm().
void disarm(bool with_handlers, sigset_t *mask)
{
    hidden_exists = 0;
    if (with_handlers)
        for (int sig = 1; sig < _NSIG; ++sig) {
            if (handled[sig])
                sigaction(sig, &before[sig], nullptr);
            handled[sig] = false;
            if (has_signal(blocked_while_hidden, sig))
                drop_signal(mask, sig);
        }
    sigaction(SIGXFSZ, &before_xfsz, nullptr);
}

// ---- names ------------------------------------------------------------------

// ".name.PID.N" in the target's directory: hidden, unique to this process,
// and on the same file system as the target, so that the rename can't copy.
std::string hidden_name(const std::string &target, int attempt)
{
    const std::size_t slash = target.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    return target.substr(0, base) + "." + target.substr(base) + "." + std::to_string(getpid()) +
           "." + std::to_string(attempt);
}

std::string directory_of(const std::string &target)
{
    const std::size_t slash = target.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : target.substr(0, slash);
}

std::string proc_path(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

bool failed(atomic_file *f, int error)
{
    if (!f->error)
        f->error = error;
    return false;
}

// ---- making the new file ------------------------------------------------------

// An unnamed file in the target's directory, or -1 where the file system
// or kernel can't make one or /proc isn't there to name it later.
int open_unnamed(const std::string &dir)
{
    const int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0 && access(proc_path(fd).c_str(), F_OK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Creates the hidden file and, in the same step as far as the signals can
// tell, arms them to remove it.
bool open_hidden(atomic_file *f)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string hidden = hidden_name(f->target, attempt);
        if (hidden.size() >= sizeof hidden_for_handler)
            return failed(f, ENAMETOOLONG);
        sigset_t old = hold();
        f->fd = open(hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const int error = errno;
        if (f->fd >= 0) {
            std::memcpy(hidden_for_handler, hidden.c_str(), hidden.size() + 1);
            hidden_exists = 1;
            arm(true, &old);
            f->hidden = hidden;
        }
        release(old);
        if (f->fd >= 0)
            return true;
        if (error != EEXIST)
            return failed(f, error);
    }
    return failed(f, EEXIST);
}

// Gives an unnamed file a hidden name: 0, or the errno of the failure.
// Called with the signals held.
int link_hidden(atomic_file *f)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string hidden = hidden_name(f->target, attempt);
        if (linkat(AT_FDCWD, proc_path(f->fd).c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            f->hidden = hidden;
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

// Makes the rename itself durable. A directory this process can't open
// (write and search permission without read) can't be synced, which is no
// failure of the replace; file systems that can't sync a directory say
// EINVAL, which is none either.
int sync_directory(const std::string &dir)
{
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const int error = fsync(fd) != 0 && errno != EINVAL ? errno : 0;
    close(fd);
    return error;
}

bool write_all(atomic_file *f, const unsigned char *bytes, std::size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = offset < 0 ? write(f->fd, bytes, size) : pwrite(f->fd, bytes, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failed(f, n < 0 ? errno : EIO);
        bytes += n;
        size -= static_cast<std::size_t>(n);
        if (offset >= 0)
            offset += n;
    }
    return true;
}

// The copy where the kernel can't copy between the two files itself: read
// and written a block at a time.
bool copy_by_reading(atomic_file *f, int from, off_t at, off_t end)
{
    unsigned char block[1 << 16];
    while (at < end) {
        const ssize_t n = pread(from, block, static_cast<std::size_t>(std::min<off_t>(sizeof block, end - at)), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failed(f, n < 0 ? errno : EIO);
        if (!write_all(f, block, static_cast<std::size_t>(n), -1))
            return false;
        at += n;
    }
    return true;
}

// Copies an unnamed file that can't be linked (a security module may
// refuse links where it allows all else) into a hidden named file, made as
// where unnamed files can't be, with its permission bits, and syncs it; the
// unnamed file is closed either way.
bool copy_to_hidden(atomic_file *f)
{
    const int unnamed = f->fd;
    sigset_t old = hold();
    disarm(false, &old);
    f->fd = -1;
    f->unnamed = false;
    release(old);
    struct stat st;
    bool copied = fstat(unnamed, &st) == 0 ? open_hidden(f) : failed(f, errno);
    if (copied)
        fchmod(f->fd, st.st_mode & 0777);
    for (off_t at = 0; copied && at < st.st_size;) {
        const ssize_t n = copy_file_range(unnamed, &at, f->fd, nullptr, static_cast<std::size_t>(st.st_size - at), 0);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        const bool kernel_cannot = n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL);
        copied = kernel_cannot ? copy_by_reading(f, unnamed, at, st.st_size) : failed(f, n < 0 ? errno : EIO);
        break;
    }
    copied = copied && (fsync(f->fd) == 0 || failed(f, errno));
    close(unnamed);
    return copied;
}

} // namespace

bool atomic_open(atomic_file *f, const char *target)
{
    f->target = target;
    sigset_t old = hold();
    f->fd = open_unnamed(directory_of(f->target));
    if (f->fd >= 0) {
        f->unnamed = true;
        arm(false, &old);
    }
    release(old);
    if (f->fd < 0 && !open_hidden(f))
        return false;
    // A file being replaced keeps its permission bits, as it would if it
    // had been opened and overwritten in place.
    struct stat existing;
    if (stat(target, &existing) == 0 && S_ISREG(existing.st_mode))
        fchmod(f->fd, existing.st_mode & 0777);
    return true;
}

bool atomic_write(atomic_file *f, const unsigned char *bytes, std::size_t size)
{
    return !f->error && write_all(f, bytes, size, -1);
}

bool atomic_write_at(atomic_file *f, std::uint64_t offset, const unsigned char *bytes, std::size_t size)
{
    return !f->error && write_all(f, bytes, size, static_cast<off_t>(offset));
}

bool atomic_truncate(atomic_file *f, std::uint64_t size)
{
    if (f->error)
        return false;
    if (ftruncate(f->fd, static_cast<off_t>(size)) != 0 || lseek(f->fd, static_cast<off_t>(size), SEEK_SET) < 0)
        return failed(f, errno);
    return true;
}

atomic_result atomic_commit(atomic_file *f, bool sync_directory_now)
{
    if (f->fd < 0 || f->error || fsync(f->fd) != 0) {
        failed(f, errno);
        atomic_abandon(f);
        return atomic_result::kept_old;
    }
    // From here to the rename the signals wait: the hidden name lives a few
    // system calls, and nothing but SIGKILL can cut them short.
    sigset_t old = hold();
    if (f->unnamed && link_hidden(f) != 0) {
        // Where links are refused, the hidden-name way instead.
        release(old);
        if (!copy_to_hidden(f)) {
            atomic_abandon(f);
            return atomic_result::kept_old;
        }
        old = hold();
    }
    bool named = true;
    if (close(f->fd) != 0)
        named = failed(f, errno);
    f->fd = -1;
    if (named && rename(f->hidden.c_str(), f->target.c_str()) != 0)
        named = failed(f, errno);
    if (!named && !f->hidden.empty())
        unlink(f->hidden.c_str());
    f->hidden.clear();
    disarm(!f->unnamed, &old);
    release(old);
    if (!named)
        return atomic_result::kept_old;
    if (!sync_directory_now)
        return atomic_result::replaced;
    const int error = sync_directory(directory_of(f->target));
    if (error) {
        f->error = error;
        return atomic_result::replaced_unsynced;
    }
    return atomic_result::replaced;
}

void atomic_abandon(atomic_file *f)
{
    if (f->fd < 0)
        return;  // never opened, or already committed
    sigset_t old = hold();
    close(f->fd);
    f->fd = -1;
    if (!f->hidden.empty())
        unlink(f->hidden.c_str());
    f->hidden.clear();
    disarm(!f->unnamed, &old);
    release(old);
}

int atomic_sync_directory(const char *target)
{
    return sync_directory(directory_of(target));
}

void atomic_remove_hidden()
{
    if (hidden_exists)
        unlink(hidden_for_handler);
    hidden_exists = 0;
}
