// load: see load.h.
//
// The file is opened and read here, and the decoder reads it through
// callbacks, for three reasons:
//  - a file that can't be opened or read, or a directory, is reported with
//    the system's own reason instead of the decoder's guess;
//  - the decoder's own stdio reader skips data with fseek, which fails on a
//    pipe such as `pixremap <(curl ...)`; this reader skips by reading;
//  - the start of the file can be looked at before decoding begins (below).
#include "load.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "stb_image.h"

namespace {

constexpr std::size_t chunk = 64 * 1024;

// A buffered reader over a file descriptor, for the decoder's callbacks.
struct input {
    int fd = -1;
    bool seekable = false;  // a regular file, where skipping can seek
    std::vector<unsigned char> buffer = std::vector<unsigned char>(chunk);
    std::size_t start = 0, end = 0;  // the unread bytes in buffer
    bool at_end = false;             // read() has said end of file, or failed
    int error = 0;                   // the errno of a failed read
};

// Reads into buffer[end...], up to its size; returns the bytes read.
std::size_t read_some(input *in, unsigned char *into, std::size_t size)
{
    for (;;) {
        const ssize_t n = read(in->fd, into, size);
        if (n > 0)
            return static_cast<std::size_t>(n);
        if (n < 0 && errno == EINTR)
            continue;
        in->at_end = true;
        if (n < 0)
            in->error = errno;
        return 0;
    }
}

// Refills the buffer once it is empty; false at the end of the file.
bool refill(input *in)
{
    if (in->start < in->end)
        return true;
    in->start = in->end = 0;
    if (!in->at_end)
        in->end = read_some(in, in->buffer.data(), in->buffer.size());
    return in->end > 0;
}

int read_callback(void *user, char *data, int size)
{
    auto *in = static_cast<input *>(user);
    auto *out = reinterpret_cast<unsigned char *>(data);
    std::size_t want = static_cast<std::size_t>(size), got = 0;
    while (got < want) {
        if (in->start == in->end && want - got >= in->buffer.size() && !in->at_end) {
            // Large reads (whole rows of raw pixels) skip the buffer.
            const std::size_t n = read_some(in, out + got, want - got);
            if (n == 0)
                break;
            got += n;
            continue;
        }
        if (!refill(in))
            break;
        const std::size_t n = std::min(in->end - in->start, want - got);
        std::memcpy(out + got, in->buffer.data() + in->start, n);
        in->start += n;
        got += n;
    }
    return static_cast<int>(got);
}

void skip_callback(void *user, int n)
{
    auto *in = static_cast<input *>(user);
    if (n <= 0)
        return;
    auto left = static_cast<std::size_t>(n);
    const std::size_t buffered = std::min(in->end - in->start, left);
    in->start += buffered;
    left -= buffered;
    if (left == 0)
        return;
    if (in->seekable && lseek(in->fd, static_cast<off_t>(left), SEEK_CUR) >= 0)
        return;
    while (left > 0 && refill(in)) {
        const std::size_t dropped = std::min(in->end - in->start, left);
        in->start += dropped;
        left -= dropped;
    }
}

int eof_callback(void *user)
{
    auto *in = static_cast<input *>(user);
    return in->at_end && in->start == in->end;
}

const stbi_io_callbacks callbacks = {read_callback, skip_callback, eof_callback};

// stb_image 2.27 copies 16-bit PNM samples into memory as the file stores
// them, big-endian, and then cuts them to 8 bits as if they were in the
// machine's byte order: on a little-endian machine it keeps the low byte,
// which is noise. Such files are read at 16 bits instead, keeping the byte
// that came first in the file, the high one. The header is judged by the
// decoder's own parser, on the first chunk of the file.
bool is_16_bit_pnm(const input &in)
{
    const unsigned char *head = in.buffer.data() + in.start;
    const std::size_t size = in.end - in.start;
    return size >= 2 && head[0] == 'P' && (head[1] == '5' || head[1] == '6') &&
           stbi_is_16_bit_from_memory(head, static_cast<int>(size));
}

unsigned char *load_16_bit_pnm(input *in, int *w, int *h, int *c)
{
    auto *wide = reinterpret_cast<unsigned char *>(stbi_load_16_from_callbacks(&callbacks, in, w, h, c, 0));
    if (!wide)
        return nullptr;
    // Each sample's two bytes are as the file stored them, high byte first.
    const std::size_t samples = static_cast<std::size_t>(*w) * static_cast<std::size_t>(*h) *
                                static_cast<std::size_t>(*c);
    for (std::size_t i = 0; i < samples; ++i)
        wide[i] = wide[2 * i];
    return wide;
}

} // namespace

unsigned char *load_image(const char *path, int *width, int *height, int *channels,
                          std::string *reason)
{
    input in;
    in.fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat st;
    const int error = in.fd < 0                  ? errno
                      : fstat(in.fd, &st) != 0   ? errno
                      : S_ISDIR(st.st_mode)      ? EISDIR
                                                 : 0;
    if (error) {
        *reason = std::strerror(error);
        if (in.fd >= 0)
            close(in.fd);
        return nullptr;
    }
    in.seekable = S_ISREG(st.st_mode);

    int w = 0, h = 0, c = 0;
    if (!refill(&in)) {
        *reason = in.error ? std::strerror(in.error) : "the file is empty";
        close(in.fd);
        return nullptr;
    }
    unsigned char *pixels = is_16_bit_pnm(in) ? load_16_bit_pnm(&in, &w, &h, &c)
                                              : stbi_load_from_callbacks(&callbacks, &in, &w, &h, &c, 0);
    close(in.fd);
    if (!pixels) {
        *reason = in.error ? std::strerror(in.error) : stbi_failure_reason();
        return nullptr;
    }
    // The decoder has been seen to hand back images it could not size; an
    // image without pixels, or with a channel count no PNG can hold, is no
    // image.
    if (w <= 0 || h <= 0 || c < 1 || c > 4) {
        *reason = (w <= 0 || h <= 0) ? "the image has no pixels"
                                     : "the image has an unsupported number of channels";
        stbi_image_free(pixels);
        return nullptr;
    }
    *width = w;
    *height = h;
    *channels = c;
    return pixels;
}

void release_image(unsigned char *pixels, int, int, int)
{
    stbi_image_free(pixels);
}
