// save: see save.h.
//
// The PNG writer hands over the file's bytes as it makes them; this unit
// puts them in a temporary file, created only once there is something to
// write, checks every write (a full disk must not leave a cut-off PNG
// behind), and puts an IDAT chunk's length in its place with pwrite once
// the writer knows it.
#include "save.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "png_write.h"

// File offsets are 64-bit in this build (_FILE_OFFSET_BITS=64), so an
// output may pass 2 GiB on a 32-bit machine too.
static_assert(sizeof(off_t) >= sizeof(std::uint64_t));

namespace {

// ---- the temporary file and the signals that must remove it -------------

// The signals that end a run from outside. While a temporary file exists
// they remove it first; a signal handler is given no context, so its name
// is kept here: the only state of this unit, and set only while the
// signals are blocked.
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int signal_count = sizeof ending_signals / sizeof ending_signals[0];
char temp_for_handler[PATH_MAX];
volatile sig_atomic_t temp_exists = 0;
struct sigaction before[signal_count], before_xfsz;

extern "C" void remove_temp_and_end(int sig)
{
    if (temp_exists)
        unlink(temp_for_handler);
    struct sigaction fall = {};
    fall.sa_handler = SIG_DFL;
    sigemptyset(&fall.sa_mask);
    sigaction(sig, &fall, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
    _exit(128 + sig);  // should the signal not end the process after all
}

sigset_t blocked_while_switching()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : ending_signals)
        sigaddset(&set, sig);
    return set;
}

// Creates the temporary file and, in the same step as far as the signals
// can tell, arms them to remove it. Signals that were ignored stay ignored.
int create_and_arm(const std::string &temp)
{
    if (temp.size() >= sizeof temp_for_handler) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const sigset_t set = blocked_while_switching();
    sigset_t old;
    sigprocmask(SIG_BLOCK, &set, &old);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const int error = errno;
    if (fd >= 0) {
        std::memcpy(temp_for_handler, temp.c_str(), temp.size() + 1);
        temp_exists = 1;
        struct sigaction remove = {};
        remove.sa_handler = remove_temp_and_end;
        sigfillset(&remove.sa_mask);
        for (int k = 0; k < signal_count; ++k) {
            sigaction(ending_signals[k], nullptr, &before[k]);
            if (before[k].sa_handler != SIG_IGN)
                sigaction(ending_signals[k], &remove, nullptr);
        }
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &before_xfsz);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return fd;
}

// Once the temporary file is renamed or removed: the signals act as before.
void disarm()
{
    const sigset_t set = blocked_while_switching();
    sigset_t old;
    sigprocmask(SIG_BLOCK, &set, &old);
    temp_exists = 0;
    for (int k = 0; k < signal_count; ++k)
        sigaction(ending_signals[k], &before[k], nullptr);
    sigaction(SIGXFSZ, &before_xfsz, nullptr);
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

// ---- the file the writer's bytes go to ------------------------------------

struct png_file {
    std::string target;  // the name being replaced
    std::string temp;    // the temporary file, once created
    int fd = -1;
    int error = 0;       // the first errno seen, 0 while all is well
};

// ".name.PID.N" in name's directory: hidden, unique to this process, and on
// the same file system as name so that the rename can't copy.
std::string temp_name(const std::string &target, int attempt)
{
    const std::size_t slash = target.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    return target.substr(0, base) + "." + target.substr(base) + "." +
           std::to_string(getpid()) + "." + std::to_string(attempt);
}

std::string directory_of(const std::string &target)
{
    const std::size_t slash = target.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : target.substr(0, slash);
}

bool open_temp(png_file *f)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = temp_name(f->target, attempt);
        f->fd = create_and_arm(temp);
        if (f->fd >= 0) {
            f->temp = temp;
            // A file being replaced keeps its permission bits, as it would
            // if it had been opened and overwritten in place.
            struct stat old;
            if (stat(f->target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
                fchmod(f->fd, old.st_mode & 0777);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    f->error = errno;
    return false;
}

bool failed(png_file *f, ssize_t n)
{
    if (!f->error)
        f->error = n < 0 ? errno : EIO;
    return false;
}

// Writes all the bytes, at `offset`, or where the file is when that is -1.
bool write_all(png_file *f, const unsigned char *bytes, std::size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = offset < 0 ? write(f->fd, bytes, size) : pwrite(f->fd, bytes, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failed(f, n);
        bytes += n;
        size -= static_cast<std::size_t>(n);
        if (offset >= 0)
            offset += n;
    }
    return true;
}

bool file_write(void *context, const unsigned char *bytes, std::size_t size)
{
    auto *f = static_cast<png_file *>(context);
    if (f->error || (f->fd < 0 && !open_temp(f)))
        return false;
    return write_all(f, bytes, size, -1);
}

bool file_rewrite(void *context, std::uint64_t offset, const unsigned char *bytes, std::size_t size)
{
    auto *f = static_cast<png_file *>(context);
    return !f->error && write_all(f, bytes, size, static_cast<off_t>(offset));
}

bool file_truncate(void *context, std::uint64_t size)
{
    auto *f = static_cast<png_file *>(context);
    if (f->error)
        return false;
    if (ftruncate(f->fd, static_cast<off_t>(size)) != 0 ||
        lseek(f->fd, static_cast<off_t>(size), SEEK_SET) < 0)
        return failed(f, -1);
    return true;
}

// Makes the rename itself durable; file systems that can't sync a directory
// say EINVAL, which is no failure of the write.
int sync_directory(const std::string &dir)
{
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = fsync(fd) != 0 && errno != EINVAL ? errno : 0;
    close(fd);
    return error;
}

} // namespace

bool save_png(const char *name, const unsigned char *pixels, int width, int height,
              int channels, std::string *reason)
{
    png_file f;
    f.target = name;
    const png_sink sink = {&f, file_write, file_rewrite, file_truncate};
    const png_write_status status = png_write(sink, pixels, width, height, channels);
    const bool written = status == png_write_status::written;

    int error = f.error;
    if (f.fd >= 0) {
        if (written && !error && fsync(f.fd) != 0)
            error = errno;
        if (close(f.fd) != 0 && !error)
            error = errno;
    }
    if (written && !error && rename(f.temp.c_str(), name) != 0)
        error = errno;
    if (!f.temp.empty()) {
        if (!written || error)
            unlink(f.temp.c_str());
        disarm();
    }
    if (!written || error) {
        *reason = status == png_write_status::out_of_memory ? "out of memory while encoding the PNG"
                  : status == png_write_status::not_an_image ? "the image has no pixels"
                  : error                                    ? std::strerror(error)
                                                             : "the PNG could not be written";
        return false;
    }
    error = sync_directory(directory_of(f.target));
    if (error) {
        *reason = std::string(std::strerror(error)) + " (syncing the directory)";
        return false;
    }
    return true;
}
