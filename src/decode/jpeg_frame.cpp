// jpeg_frame: see jpeg_frame.h.
#include "decode/jpeg_frame.h"

#include <algorithm>

namespace {

// The file as bytes from an offset, read a block at a time (padding
// between segments is passed over a byte at a time).
struct reader {
    jpeg_read_at read_at;
    void *context;
    std::uint64_t bound;
    std::uint64_t offset = 0;       // the next byte
    std::uint64_t block_at = 0;     // where block starts in the file
    std::size_t block_size = 0;
    unsigned char block[4096];
};

// The next byte, or -1 at the end of the file or the bound.
int next(reader *r)
{
    if (r->offset >= r->bound)
        return -1;
    if (r->offset < r->block_at || r->offset >= r->block_at + r->block_size) {
        r->block_at = r->offset;
        r->block_size = r->read_at(r->context, r->offset, r->block, sizeof r->block);
        if (r->block_size == 0)
            return -1;
    }
    return r->block[r->offset++ - r->block_at];
}

int next16(reader *r)
{
    const int high = next(r);
    const int low = next(r);
    return high < 0 || low < 0 ? -1 : high << 8 | low;
}

// stb_image's marker: the byte after 0xff and any fill bytes, or `none`
// where the next byte isn't 0xff; -1 at the end.
constexpr int none = 0x100;

int marker(reader *r)
{
    int x = next(r);
    if (x != 0xff)
        return x < 0 ? -1 : none;
    while (x == 0xff)
        x = next(r);
    return x;
}

bool is_frame(int m) { return m == 0xc0 || m == 0xc1 || m == 0xc2; }

// The bytes the frame's decode allocates, in stb_image's terms: each
// component's plane is its share of whole MCUs (raw_data), its
// coefficients 2 bytes each where the file is progressive (raw_coeff), and
// the image is 3 samples a pixel for 3 or 4 components, 1 for 1.
std::uint64_t working_bytes(const jpeg_frame &f, const int (&h)[4], const int (&v)[4])
{
    const int h_max = *std::max_element(h, h + f.components);
    const int v_max = *std::max_element(v, v + f.components);
    const std::uint64_t mcu_x = (static_cast<std::uint64_t>(f.width) + 8 * h_max - 1) / (8 * h_max);
    const std::uint64_t mcu_y = (static_cast<std::uint64_t>(f.height) + 8 * v_max - 1) / (8 * v_max);
    std::uint64_t planes = 0;
    for (int i = 0; i < f.components; ++i)
        planes += mcu_x * h[i] * 8 * mcu_y * v[i] * 8;
    const std::uint64_t image = static_cast<std::uint64_t>(f.width) * f.height * (f.components >= 3 ? 3 : 1);
    return planes * (f.progressive ? 3 : 1) + image;
}

// The frame header after its marker, checked as stb_image checks it.
bool read_frame(reader *r, jpeg_frame *f)
{
    const int length = next16(r);
    if (length < 11 || next(r) != 8)
        return false;
    f->height = next16(r);
    f->width = next16(r);
    f->components = next(r);
    if (f->height <= 0 || f->width <= 0 || f->height > 1 << 24 || f->width > 1 << 24)
        return false;
    if ((f->components != 1 && f->components != 3 && f->components != 4) || length != 8 + 3 * f->components)
        return false;
    int h[4] = {}, v[4] = {};
    for (int i = 0; i < f->components; ++i) {
        const int id = next(r), sampling = next(r), table = next(r);
        if (id < 0 || table < 0 || table > 3)
            return false;
        h[i] = sampling >> 4;
        v[i] = sampling & 15;
        if (sampling < 0 || h[i] < 1 || h[i] > 4 || v[i] < 1 || v[i] > 4)
            return false;
    }
    f->working_bytes = working_bytes(*f, h, v);
    return true;
}

} // namespace

bool jpeg_find_frame(jpeg_read_at read_at, void *context, std::uint64_t bound, jpeg_frame *frame)
{
    reader r{read_at, context, bound, 0, 0, 0, {}};
    if (marker(&r) != 0xd8)  // SOI
        return false;
    int m = marker(&r);
    while (!is_frame(m)) {
        // The segments stb_image passes before the frame; any other marker
        // ends its reading.
        const bool table = m == 0xdb || m == 0xc4 || m == 0xdd;
        if (!table && !(m >= 0xe0 && m <= 0xef) && m != 0xfe)
            return false;
        const int length = next16(&r);
        if (length < 2 || (m == 0xdd && length != 4))
            return false;
        r.offset += static_cast<std::uint64_t>(length) - 2;
        m = marker(&r);
        while (m == none)  // padding after a segment
            m = marker(&r);
        if (m < 0)
            return false;
    }
    jpeg_frame f;
    f.progressive = m == 0xc2;
    if (!read_frame(&r, &f))
        return false;
    *frame = f;
    return true;
}
