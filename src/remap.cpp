// remap: the pass that runs a byte map over the colour samples of an image.
// See remap.h for what it promises.
//
// The pass walks the buffer in memory order, row after row, because no
// pixel's result depends on another's: a column-by-column walk would give the
// same bytes but stride across rows and thrash the cache on large images.
// Offsets are 64-bit, so an image of any size the decoder accepts is safe.
#include "remap.h"

#include <cstddef>

namespace {

// Maps the first `colour` samples of each of `pixels` pixels that are
// `stride` samples apart. With stride and colour known at compile time the
// compiler unrolls the inner loop and can vectorise the whole walk.
template <byte_map map, int stride, int colour>
void remap_run(unsigned char *data, std::size_t pixels)
{
    if constexpr (stride == colour) {
        const std::size_t n = pixels * stride;
        for (std::size_t i = 0; i < n; ++i)
            data[i] = map(data[i]);
    } else {
        for (std::size_t p = 0; p < pixels; ++p, data += stride)
            for (int c = 0; c < colour; ++c)
                data[c] = map(data[c]);
    }
}

} // namespace

template <byte_map map>
void remap_pixels(unsigned char *data, int width, int height, int channels)
{
    if (width <= 0 || height <= 0 || channels <= 0)
        return;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    switch (channels) {
    case 1: remap_run<map, 1, 1>(data, pixels); return;  // grey
    case 2: remap_run<map, 2, 1>(data, pixels); return;  // grey, alpha
    case 3: remap_run<map, 3, 3>(data, pixels); return;  // red, green, blue
    case 4: remap_run<map, 4, 3>(data, pixels); return;  // red, green, blue, alpha
    }
    // No decoder delivers more than four samples; should one ever, its first
    // three are the colour and the rest are left alone.
    for (std::size_t p = 0; p < pixels; ++p, data += channels)
        for (int c = 0; c < 3; ++c)
            data[c] = map(data[c]);
}

template void remap_pixels<digit_remap>(unsigned char *, int, int, int);
template void remap_pixels<bit_remap>(unsigned char *, int, int, int);
