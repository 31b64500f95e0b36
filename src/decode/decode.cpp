// decode: see decode.h.
//
// The decoder reads through callbacks over this unit's own reader, for three
// reasons:
//  - a file that can't be read is reported with the system's own reason
//    instead of the decoder's guess;
//  - the decoder's own stdio reader skips data with fseek, which fails on a
//    pipe such as `pixremap <(curl ...)`; this reader skips by reading;
//  - the start of the file is held in memory before decoding begins, so the
//    header can be read first (for the size the file declares) and looked at
//    (below) without reading the file twice.
#include "decode/decode.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include <unistd.h>

#include "decode/codec.h"
#include "decode/x87.h"
#include "decode/jpeg_frame.h"
#include "image.h"

namespace {

constexpr std::size_t chunk = 1024 * 1024;
// How far into a regular file a JPEG's frame header is looked for.
constexpr std::uint64_t jpeg_frame_reach = 64ull << 20;

// Reads up to size bytes into into; 0 at the end of the file or on failure.
std::size_t read_some(decode_input *in, unsigned char *into, std::size_t size)
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

// Refills the buffer once it is empty; false at the end of the input.
bool refill(decode_input *in)
{
    if (in->start < in->end)
        return true;
    if (in->at_end)
        return false;
    in->start = in->end = 0;
    in->end = read_some(in, in->storage.get(), in->capacity);
    return in->end > 0;
}

int read_callback(void *user, char *data, int size)
{
    auto *in = static_cast<decode_input *>(user);
    auto *out = reinterpret_cast<unsigned char *>(data);
    const auto want = static_cast<std::size_t>(std::max(size, 0));
    std::size_t got = 0;
    while (got < want) {
        if (in->start == in->end && !in->at_end && want - got >= in->capacity) {
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
        std::memcpy(out + got, in->data + in->start, n);
        in->start += n;
        got += n;
    }
    // What the input can't fill reads as zeros: the HDR reader takes a
    // short read's whole buffer (a pixel cut off at the end), which would
    // otherwise be whatever its stack held, the stack variable's zeroing
    // being jumped over by its goto.
    std::memset(out + got, 0, want - got);
    return static_cast<int>(got);
}

void skip_callback(void *user, int n)
{
    auto *in = static_cast<decode_input *>(user);
    if (n <= 0)
        return;
    auto left = static_cast<std::size_t>(n);
    const std::size_t buffered = std::min(in->end - in->start, left);
    in->start += buffered;
    left -= buffered;
    if (left == 0 || in->at_end)
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
    auto *in = static_cast<decode_input *>(user);
    return in->at_end && in->start == in->end;
}

const stbi_io_callbacks callbacks = {read_callback, skip_callback, eof_callback};

// stb_image 2.27 copies 16-bit PNM samples into memory as the file stores
// them, big-endian, and then cuts them to 8 bits as if they were in the
// machine's byte order: on a little-endian machine it keeps the low byte,
// which is noise. Such files are read at 16 bits instead, keeping the byte
// that came first in the file, the high one.
bool is_16_bit_pnm(const decode_input &in)
{
    const unsigned char *head = in.data + in.start;
    image_header header;
    return in.end - in.start >= 2 && head[0] == 'P' && (head[1] == '5' || head[1] == '6') &&
           decode_header(in, &header) && header.sample_bytes == 2;
}

// stb_image 2.27's Softimage PIC reader, when a file ends inside the pixel
// data after its channel list was read, converts a null image to the
// caller's channel count and crashes. Asked for its own intermediate layout,
// 4 samples a pixel, it has nothing to convert and fails cleanly; an RGB
// file's pixels are then packed to 3 samples here, as the decoder would.
bool is_pic(const decode_input &in)
{
    static const unsigned char magic[4] = {0x53, 0x80, 0xf6, 0x34};
    const unsigned char *head = in.data + in.start;
    return in.end - in.start >= 92 && std::memcmp(head, magic, 4) == 0 &&
           std::memcmp(head + 88, "PICT", 4) == 0;
}

// stb_image 2.27 counts the palette of an OS/2 bitmap (12-byte header, 3
// bytes an entry) as if the header were 24 bytes long: it reads 4 entries
// too few, so the last four colours come out black, and with fewer than 4
// entries (a 1-bit file) it reads none and takes the pixels from 6 bytes too
// far on. Such a file is handed to the decoder in the Windows layout, whose
// palette it counts right: a 40-byte header and 4-byte entries, then the
// pixels as they were. The entries are the bytes between the header and the
// pixels, as the decoder counts them for a Windows file, at most 256.
constexpr std::size_t bmp_file_header = 14, os2_header = 12, windows_header = 40;

std::uint32_t little_endian(const unsigned char *p, int bytes)
{
    std::uint32_t value = 0;
    for (int k = bytes - 1; k >= 0; --k)
        value = value << 8 | p[k];
    return value;
}

void put_little_endian(unsigned char *p, std::uint32_t value, int bytes)
{
    for (int k = 0; k < bytes; ++k, value >>= 8)
        p[k] = static_cast<unsigned char>(value & 0xff);
}

void mend_os2_palette(decode_input *in)
{
    const unsigned char *head = in->data + in->start;
    const std::size_t size = in->end - in->start;
    const std::size_t palette_at = bmp_file_header + os2_header;
    if (size < palette_at || head[0] != 'B' || head[1] != 'M' || little_endian(head + 14, 4) != os2_header)
        return;
    const std::uint32_t bits = little_endian(head + 24, 2);
    const std::uint32_t offset = little_endian(head + 10, 4);
    if ((bits != 1 && bits != 4 && bits != 8) || offset < palette_at || offset > size)
        return;
    const std::size_t entries = (offset - palette_at) / 3;
    if (entries > 256)
        return;  // refused as a Windows file with that many would be

    const std::size_t pixels_at = bmp_file_header + windows_header + 4 * entries;
    const std::size_t mended_size = pixels_at + (size - offset);
    std::unique_ptr<unsigned char[]> mended(new unsigned char[mended_size]());
    unsigned char *out = mended.get();
    out[0] = 'B';
    out[1] = 'M';
    put_little_endian(out + 2, static_cast<std::uint32_t>(mended_size), 4);
    put_little_endian(out + 10, static_cast<std::uint32_t>(pixels_at), 4);
    put_little_endian(out + 14, windows_header, 4);
    put_little_endian(out + 18, little_endian(head + 18, 2), 4);  // width
    put_little_endian(out + 22, little_endian(head + 20, 2), 4);  // height, rows bottom up
    put_little_endian(out + 26, little_endian(head + 22, 2), 2);  // planes
    put_little_endian(out + 28, bits, 2);
    put_little_endian(out + 46, static_cast<std::uint32_t>(entries), 4);  // colours used
    for (std::size_t i = 0; i < entries; ++i)
        std::memcpy(out + bmp_file_header + windows_header + 4 * i, head + palette_at + 3 * i, 3);
    std::memcpy(out + pixels_at, head + offset, size - offset);
    in->storage = std::move(mended);
    in->capacity = mended_size;
    in->data = in->storage.get();
    in->start = 0;
    in->end = mended_size;
}

// stb_image 2.27's PSD reader takes Photoshop's white matte out of partly
// transparent pixels in float arithmetic, pixel * (1/a) + 255 * (1 - 1/a),
// and truncates the result to a byte. Every machine with float arithmetic
// of its own rounds each step to float (stb is built without fused
// multiply-adds, CMakeLists.txt); i386, whose baseline has no SSE2, works
// on the x87 in extended precision, and some samples come out one lower or
// higher there. So a PSD is decoded with the x87 rounding to
// single precision, which gives every step float's rounding; other
// formats keep the x87 as it was, so that the HDR tone curve's pow is
// taken at double precision as everywhere else.
#if defined(__i386__)
bool is_psd(const decode_input &in)
{
    return in.end - in.start >= 4 && std::memcmp(in.data + in.start, "8BPS", 4) == 0;
}
#endif

void pack_rgba_to_rgb(unsigned char *pixels, int w, int h)
{
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    for (std::size_t i = 0; i < count; ++i)
        std::memmove(pixels + 3 * i, pixels + 4 * i, 3);
}

unsigned char *narrow_16_bit(unsigned char *wide, int w, int h, int c)
{
    // Each sample's two bytes are as the file stored them, high byte first.
    const auto samples = static_cast<std::size_t>(image_samples(w, h, c));
    for (std::size_t i = 0; i < samples; ++i)
        wide[i] = wide[2 * i];
    return wide;
}

} // namespace

void decode_from_file(decode_input *in, int fd, bool seekable)
{
    in->fd = fd;
    in->seekable = seekable;
    in->storage.reset(new unsigned char[chunk]);
    in->capacity = chunk;
    in->data = in->storage.get();
    in->start = in->end = 0;
    in->at_end = false;
    in->error = 0;
}

void decode_from_memory(decode_input *in, const unsigned char *data, std::size_t size)
{
    in->fd = -1;
    in->seekable = false;
    in->storage.reset();
    in->capacity = 0;
    in->data = data;
    in->start = 0;
    in->end = size;
    in->at_end = true;
    in->error = 0;
}

bool decode_begin(decode_input *in, std::string *reason)
{
    // Fill the whole first buffer: a pipe hands over a little at a time.
    while (!in->at_end && in->end < in->capacity)
        in->end += read_some(in, in->storage.get() + in->end, in->capacity - in->end);
    if (in->error) {
        *reason = std::strerror(in->error);
        return false;
    }
    if (in->end == in->start) {
        *reason = "the file is empty";
        return false;
    }
    return true;
}

namespace {

bool searches_the_file(const decode_input &in) { return in.fd >= 0 && in.seekable; }

// The first buffer starts with a JPEG's SOI marker.
bool starts_as_jpeg(const decode_input &in)
{
    return in.end - in.start >= 2 && in.data[in.start] == 0xff && in.data[in.start + 1] == 0xd8;
}

// The file's bytes at `offset` for the frame search: from the first buffer,
// and past it, where the file is a regular one, from the file.
std::size_t header_bytes_at(void *context, std::uint64_t offset, unsigned char *into, std::size_t size)
{
    const auto &in = *static_cast<const decode_input *>(context);
    const std::size_t held = in.end - in.start;
    if (offset < held) {
        const std::size_t n = std::min<std::size_t>(size, held - static_cast<std::size_t>(offset));
        std::memcpy(into, in.data + in.start + offset, n);
        return n;
    }
    if (!searches_the_file(in) || lseek(in.fd, static_cast<off_t>(offset), SEEK_SET) < 0)
        return 0;
    std::size_t n = 0;
    while (n < size) {
        const ssize_t got = read(in.fd, into + n, size - n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        n += static_cast<std::size_t>(got);
    }
    return n;
}

// A JPEG's frame header, wherever it is within reach. The first buffer
// holds the start of the file (nothing has been taken from it yet), and
// the file's offset is put back where the buffer's reads left it.
bool find_jpeg_frame(const decode_input &in, jpeg_frame *frame)
{
    if (!starts_as_jpeg(in))
        return false;
    const std::size_t held = in.end - in.start;
    const off_t was = searches_the_file(in) ? lseek(in.fd, 0, SEEK_CUR) : -1;
    const bool found = jpeg_find_frame(header_bytes_at, const_cast<decode_input *>(&in),
                                       was < 0 ? held : jpeg_frame_reach, frame);
    // (Setting a regular file's offset back to one it had can't fail.)
    if (was >= 0)
        lseek(in.fd, was, SEEK_SET);
    return found;
}

} // namespace

std::uint64_t decode_header_reach(const decode_input &in)
{
    return starts_as_jpeg(in) && searches_the_file(in) ? jpeg_frame_reach : in.end - in.start;
}

bool decode_header(const decode_input &in, image_header *header)
{
    image_header h;
    jpeg_frame frame;
    const bool jpeg = find_jpeg_frame(in, &frame);
    if (!codec_info(in.data + in.start, in.end - in.start, &h.width, &h.height, &h.channels,
                    &h.sample_bytes)) {
        // A JPEG whose frame header is past the first buffer.
        if (!jpeg)
            return false;
        h.width = frame.width;
        h.height = frame.height;
        h.channels = frame.components >= 3 ? 3 : 1;
        h.sample_bytes = 1;
    }
    if (jpeg)
        h.working_bytes = frame.working_bytes;
    // A bitmap stored top row first gives its height as a negative number,
    // and the decoder reports it as stored; the image has that many rows.
    if (h.height < 0)
        h.height = h.height == INT_MIN ? INT_MAX : -h.height;
    // No pixels is no size: the PNM reader's, when its header runs past
    // what was read.
    if (h.width <= 0 || h.height == 0)
        return false;
    *header = h;
    return true;
}

unsigned char *decode_pixels(decode_input *in, int *width, int *height, int *channels,
                             std::string *reason)
{
    int w = 0, h = 0, c = 0;
    mend_os2_palette(in);
    const bool wide = is_16_bit_pnm(*in);
    const bool pic = is_pic(*in);
    const char *why = nullptr;
#if defined(__i386__)
    const bool psd = is_psd(*in);
    fpu_control_t x87 = psd ? x87_round_to_float() : 0;
#endif
    auto *pixels = static_cast<unsigned char *>(
        codec_decode(&callbacks, in, wide, pic ? 4 : 0, &w, &h, &c, &why));
#if defined(__i386__)
    if (psd)
        x87_restore(x87);
#endif
    if (!pixels) {
        *reason = in->error ? std::strerror(in->error) : why;
        return nullptr;
    }
    // The decoder has been seen to hand back images it could not size; an
    // image without pixels, or with a channel count no PNG can hold, is no
    // image.
    if (w <= 0 || h <= 0 || c < 1 || c > 4) {
        *reason = (w <= 0 || h <= 0) ? "the image has no pixels"
                                     : "the image has an unsupported number of channels";
        codec_free(pixels);
        return nullptr;
    }
    *width = w;
    *height = h;
    *channels = c;
    if (pic && c == 3)
        pack_rgba_to_rgb(pixels, w, h);
    return wide ? narrow_16_bit(pixels, w, h, c) : pixels;
}

void decode_free(unsigned char *pixels)
{
    codec_free(pixels);
}
