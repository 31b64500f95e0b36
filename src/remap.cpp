// remap: the pass that runs a byte map over the colour samples of an image.
// See remap.h for what it promises.
//
// The pass walks the buffer in memory order, row after row, because no
// pixel's result depends on another's: a column-by-column walk would give the
// same bytes but stride across rows and thrash the cache on large images.
// Offsets are 64-bit, so an image of any size the decoder accepts is safe.
//
// On x86-64 the buffer goes 16 bytes at a time through SSE2 forms of the two
// maps (below), which every x86-64 processor has; the bytes that are not
// colour samples (alpha) are put back unchanged, and the last few bytes go
// through the maps one at a time. The tests check every vector form against
// the maps themselves for all 256 values in every byte position.
#include "remap.h"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
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

#if defined(__SSE2__)

__m128i bytes_of(unsigned char value)
{
    return _mm_set1_epi8(static_cast<char>(value));
}

// bit_remap on 16 bytes: the same three swaps (halves, pairs, bits), each a
// pair of 16-bit shifts whose bits that cross into the neighbouring byte are
// masked off, then the shift up by one.
__m128i bit_remap_16(__m128i v)
{
    v = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 4), bytes_of(0x0F)),
                     _mm_and_si128(_mm_slli_epi16(v, 4), bytes_of(0xF0)));
    v = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 2), bytes_of(0x33)),
                     _mm_and_si128(_mm_slli_epi16(v, 2), bytes_of(0xCC)));
    v = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 1), bytes_of(0x55)),
                     _mm_and_si128(_mm_slli_epi16(v, 1), bytes_of(0xAA)));
    return _mm_add_epi8(v, v);
}

// digit_remap on eight values widened to 16 bits. With q10 = v / 10 and
// q100 = v / 100, the digits are v - 10 q10, q10 - 10 q100 and q100, so
//   1000 (v - 10 q10) + 100 (q10 - 10 q100) + 10 q100
//     = 1000 v - 9900 q10 - 990 q100  =  232 v + 84 q10 + 34 q100  (mod 256).
// The quotients are exact as multiply-and-shift for v < 256:
// v / 10 = (205 v) >> 11 and v / 100 = (41 v) >> 12, and every product fits
// in 16 bits.
__m128i digit_remap_8(__m128i v)
{
    const __m128i q10 = _mm_srli_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(205)), 11);
    const __m128i q100 = _mm_srli_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(41)), 12);
    const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(232)),
                                      _mm_add_epi16(_mm_mullo_epi16(q10, _mm_set1_epi16(84)),
                                                    _mm_mullo_epi16(q100, _mm_set1_epi16(34))));
    return _mm_and_si128(sum, _mm_set1_epi16(0xFF));
}

__m128i digit_remap_16(__m128i v)
{
    const __m128i zero = _mm_setzero_si128();
    return _mm_packus_epi16(digit_remap_8(_mm_unpacklo_epi8(v, zero)),
                            digit_remap_8(_mm_unpackhi_epi8(v, zero)));
}

template <byte_map map>
__m128i map_16(__m128i v)
{
    if constexpr (map == digit_remap)
        return digit_remap_16(v);
    else
        return bit_remap_16(v);
}

// The colour bytes of 16 bytes of pixels with `stride` samples, `colour` of
// them colour: all of them for grey and RGB, every other one for grey and
// alpha, three of every four for RGBA. 16 is a whole number of pixels for
// strides 2 and 4, so the pattern is the same for every 16 bytes.
template <int stride, int colour>
__m128i colour_mask()
{
    if constexpr (stride == 2)
        return _mm_set1_epi16(0x00FF);
    else if constexpr (stride == 4)
        return _mm_set1_epi32(0x00FFFFFF);
    else
        return _mm_set1_epi8(-1);
}

template <byte_map map, int stride, int colour>
void remap_run(unsigned char *data, std::size_t pixels)
{
    static_assert(stride == colour || stride == 2 || stride == 4);
    const std::size_t bytes = pixels * stride;
    const std::size_t whole = bytes / 16 * 16;  // a whole number of pixels
    const __m128i keep = colour_mask<stride, colour>();
    for (std::size_t i = 0; i < whole; i += 16) {
        auto *at = reinterpret_cast<__m128i *>(data + i);
        const __m128i v = _mm_loadu_si128(at);
        __m128i mapped = map_16<map>(v);
        if constexpr (stride != colour)
            mapped = _mm_or_si128(_mm_and_si128(keep, mapped), _mm_andnot_si128(keep, v));
        _mm_storeu_si128(at, mapped);
    }
    // The rest: under 16 bytes, whole pixels where only some samples are
    // colour, any bytes where all are.
    if constexpr (stride == colour)
        remap_scalar<map, 1, 1>(data + whole, bytes - whole);
    else
        remap_scalar<map, stride, colour>(data + whole, (bytes - whole) / stride);
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
