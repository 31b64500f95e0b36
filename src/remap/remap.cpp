// remap: the pass that runs a byte map over the colour samples of an image.
// See remap.h for what it promises.
//
// The pass walks the buffer in memory order, row after row, because no
// pixel's result depends on another's: a column-by-column walk would give the
// same bytes but stride across rows and thrash the cache on large images.
// Offsets are size_t: an image the decoder handed back is in memory, so
// every offset into it fits, on 32-bit machines too.
//
// The whole blocks go through the vector kernel of the run's kernel table
// (arch/kernels.h: x86-64's instruction sets, or the generic kernels where
// the target has vectors), and the bytes after the last block through the
// portable loop here; where the table has no kernel the portable loop does
// all, which the compiler vectorises as far as it can. The bytes that are
// not colour samples (alpha) are put back unchanged either way.
#include "remap/remap.h"

#include <cstddef>

#include "arch/kernels.h"

namespace {

// Maps the first `colour` samples of each of `pixels` pixels of `channels`
// samples, one byte at a time: the portable form of the pass. The map is a
// template argument, so that each loop has its map inlined.
template <byte_map map, int channels, int colour>
void remap_portable(unsigned char *data, std::size_t pixels)
{
    if constexpr (channels == colour) {
        const std::size_t n = pixels * channels;
        for (std::size_t i = 0; i < n; ++i)
            data[i] = map_byte(map, data[i]);
    } else {
        for (std::size_t p = 0; p < pixels; ++p, data += channels)
            for (int c = 0; c < colour; ++c)
                data[c] = map_byte(map, data[c]);
    }
}

template <byte_map map, int channels, int colour>
void remap_run(unsigned char *data, std::size_t pixels)
{
    const std::size_t bytes = pixels * channels;
    // The whole blocks that the run's vector kernel does, or none.
    const std::size_t done = kernels().remap_blocks(data, bytes, map, channels);
    // The rest, after the blocks: any bytes where all are colour, whole
    // pixels otherwise (blocks end on a pixel's edge where there is alpha).
    if constexpr (channels == colour)
        remap_portable<map, 1, 1>(data + done, bytes - done);
    else
        remap_portable<map, channels, colour>(data + done, (bytes - done) / channels);
}

template <byte_map map>
void remap_all(unsigned char *data, std::size_t pixels, int channels)
{
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
            data[c] = map_byte(map, data[c]);
}

} // namespace

void remap_pixels(unsigned char *data, int width, int height, int channels, byte_map map)
{
    if (width <= 0 || height <= 0 || channels <= 0)
        return;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    switch (map) {
    case byte_map::digit: remap_all<byte_map::digit>(data, pixels, channels); return;
    case byte_map::bit: remap_all<byte_map::bit>(data, pixels, channels); return;
    }
}
