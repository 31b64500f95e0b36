// remap: the pass that runs a byte map over the colour samples of an image.
// See remap.h for what it promises.
//
// The pass walks the buffer in memory order, row after row, because no
// pixel's result depends on another's: a column-by-column walk would give the
// same bytes but stride across rows and thrash the cache on large images.
// Offsets are 64-bit, so an image of any size the decoder accepts is safe.
//
// On x86-64 the bytes go through vector forms of the maps (remap_blocks.h):
// 16 at a time with SSE2, which every x86-64 processor has, or 32 with AVX2
// or, for the digit map, 64 with AVX-512BW where the processor has them.
// Measured on 192 MB (GB/s, SSE2 / AVX2 / AVX-512): the digit map 8 / 16 /
// 26, the bit map 16 / 28 / 25, and 13 / 25 / 14 where it keeps alpha; a
// plain loop that only flips a bit runs at about 27. The bytes that are not colour samples (alpha) are put back
// unchanged, and the last few bytes go through the maps one at a time.
#include "remap.h"

#include <cstddef>

#if defined(__x86_64__) && defined(__SSE2__)
#define PIXREMAP_VECTOR_PASS 1
#include "remap_blocks.h"
#include "remap_simd.h"
#include "vector_sse2.h"
#endif

namespace {

// Maps the first `colour` samples of each of `pixels` pixels that are
// `stride` samples apart, one byte at a time.
template <byte_map map, int stride, int colour>
void remap_scalar(unsigned char *data, std::size_t pixels)
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

#ifdef PIXREMAP_VECTOR_PASS

} // namespace

std::size_t remap_blocks_sse2(unsigned char *data, std::size_t bytes, int map, int stride)
{
    return remap_blocks_for<sse2_ops>(data, bytes, map, stride);
}

namespace {

template <byte_map map, int stride, int colour>
void remap_run(unsigned char *data, std::size_t pixels)
{
    const std::size_t bytes = pixels * stride;
    const int map_number = map == digit_remap ? 0 : 1;
    // AVX-512 pays for the digit map only: the bit map is at memory speed
    // with AVX2 already, and slower at 64 bytes where it blends in alpha.
    const std::size_t done = map == digit_remap && __builtin_cpu_supports("avx512bw")
                                 ? remap_blocks_avx512(data, bytes, map_number, stride)
                             : __builtin_cpu_supports("avx2")
                                 ? remap_blocks_avx2(data, bytes, map_number, stride)
                                 : remap_blocks_sse2(data, bytes, map_number, stride);
    // The rest, under a block: any bytes where all are colour, whole pixels
    // otherwise.
    if constexpr (stride == colour)
        remap_scalar<map, 1, 1>(data + done, bytes - done);
    else
        remap_scalar<map, stride, colour>(data + done, (bytes - done) / stride);
}

#else

template <byte_map map, int stride, int colour>
void remap_run(unsigned char *data, std::size_t pixels)
{
    remap_scalar<map, stride, colour>(data, pixels);
}

#endif

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
