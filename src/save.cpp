// save: see save.h.
//
// stbi_write_png would do the whole job in one call, but it ignores the
// results of fwrite and fclose, so a full disk leaves a cut-off PNG behind and
// still reports success. The same library's callback entry point encodes the
// same bytes in memory and hands them over in one piece; this unit writes them
// itself and checks every step.
#include "save.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "codec.h"

namespace {

// Where the encoder's bytes go: a temporary file created only once there is
// something to write, so a failed encode leaves nothing behind.
struct png_sink {
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

int create_temp(png_sink *sink)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        sink->temp = temp_name(sink->target, attempt);
        const int fd = open(sink->temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0)
                sink->temp.clear();
            return fd;
        }
    }
    sink->temp.clear();
    errno = EEXIST;
    return -1;
}

void write_png_bytes(void *context, void *data, int size)
{
    auto *sink = static_cast<png_sink *>(context);
    if (sink->error)
        return;
    if (sink->fd < 0) {
        sink->fd = create_temp(sink);
        if (sink->fd < 0) {
            sink->error = errno;
            return;
        }
        // A file being replaced keeps its permission bits, as it would if
        // it had been opened and overwritten in place.
        struct stat old;
        if (stat(sink->target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
            fchmod(sink->fd, old.st_mode & 0777);
    }
    const char *bytes = static_cast<const char *>(data);
    std::size_t left = static_cast<std::size_t>(size);
    while (left > 0) {
        const ssize_t n = write(sink->fd, bytes, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            sink->error = n < 0 ? errno : EIO;
            return;
        }
        bytes += n;
        left -= static_cast<std::size_t>(n);
    }
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

bool png_fits_encoder(int width, int height, int channels)
{
    if (width <= 0 || height <= 0 || channels < 1 || channels > 4)
        return false;
    const auto row = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(channels);
    const auto rows = static_cast<std::uint64_t>(height) * (row + 1);
    return row <= 16777215 && rows <= 1431655757;
}

bool save_png(const char *name, const unsigned char *pixels, int width, int height,
              int channels, std::string *reason)
{
    if (!png_fits_encoder(width, height, channels)) {
        *reason = "the image is too large for the PNG encoder";
        return false;
    }
    png_sink sink;
    sink.target = name;
    const bool encoded =
        codec_write_png(write_png_bytes, &sink, width, height, channels, pixels) != 0;

    int error = sink.error;
    if (sink.fd >= 0) {
        if (!error && fsync(sink.fd) != 0)
            error = errno;
        if (close(sink.fd) != 0 && !error)
            error = errno;
    }
    if (encoded && !error && rename(sink.temp.c_str(), name) != 0)
        error = errno;
    if (!encoded || error) {
        if (!sink.temp.empty())
            unlink(sink.temp.c_str());
        *reason = encoded ? std::strerror(error) : "out of memory while encoding the PNG";
        return false;
    }
    error = sync_directory(directory_of(sink.target));
    if (error) {
        *reason = std::string(std::strerror(error)) + " (syncing the directory)";
        return false;
    }
    return true;
}
