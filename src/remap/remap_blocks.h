// remap_blocks: the two maps on whole blocks of bytes with vector
// instructions, written once for any vector width over a struct of vector
// operations (arch/x86/vector_sse2.h, for one). Only the files of one
// instruction set each include it (arch/x86/remap_sse2.cpp, 16 bytes,
// remap_avx2.cpp, 32, remap_avx512.cpp, 64), each compiled for its own
// set; everything here has internal linkage, so a build for a wider set can
// never stand in for a narrower one.
//
// remap_blocks<ops, map, channels>(data, bytes) rewrites the colour samples
// of the whole blocks in the first `bytes` bytes of an image whose pixels
// have `channels` samples (colour: all of them for 1 and 3, the first of 2,
// the first three of 4) and returns how many bytes it did: a multiple of
// the block size, which is a whole number of pixels for 1, 2 and 4
// channels and any number of bytes for 3, whose samples are all colour. The
// caller does the rest one byte at a time. The tests check both forms
// against the maps themselves for all 256 values in every byte position.
#pragma once

#include <cstddef>

#include "remap/remap.h"

namespace {

// digit_remap(v) = 1000 u + 100 t + 10 h (mod 256) with v's digits h, t, u.
// With q10 = v / 10 and q100 = v / 100 (= h), u = v - 10 q10 and
// t = q10 - 10 q100, so
//   1000 u + 100 t + 10 h = 1000 v - 9900 q10 - 990 q100
//                        ≡ -24 v + 84 q10 + 34 q100   (mod 256).
// q10 is (205 v) >> 11, exact for v < 1029, from a 16-bit multiply on the
// even and the odd bytes apart (205 v < 2^16), which every instruction set
// has; 84 q10 from a 16-bit multiply whose low byte is all that counts;
// q100 is (v >= 100) + (v >= 200); 24 v is 8 (v + 2 v) in byte arithmetic.
template <class ops>
typename ops::vec digit_block(typename ops::vec v)
{
    using O = ops;
    const auto low_bytes = O::set16(0x00FF);
    const auto q10_even = O::srli16(O::mullo16(O::and_(v, low_bytes), O::set16(205)), 11);
    const auto q10_odd = O::srli16(O::mullo16(O::srli16(v, 8), O::set16(205)), 11);
    const auto tens = O::or_(O::and_(O::mullo16(q10_even, O::set16(84)), low_bytes),
                             O::slli16(O::mullo16(q10_odd, O::set16(84)), 8));
    const auto v3 = O::add8(v, O::add8(v, v));
    const auto v24 = O::and_(O::slli16(v3, 3), O::set8(0xF8));
    const auto from_100 = O::and_(O::cmpeq8(O::max8(v, O::set8(100)), v), O::set8(34));
    const auto from_200 = O::and_(O::cmpeq8(O::max8(v, O::set8(200)), v), O::set8(34));
    return O::add8(O::sub8(tens, v24), O::add8(from_100, from_200));
}

// bit_remap(v) = (v's bits reversed) << 1: swap the halves, then the pairs
// in each half; the last swap (single bits) and the shift by one together
// keep bits 7, 5, 3, 1 in place and move bits 4, 2, 0 up by two.
template <class ops>
typename ops::vec bit_block(typename ops::vec v)
{
    using O = ops;
    v = O::or_(O::and_(O::srli16(v, 4), O::set8(0x0F)), O::and_(O::slli16(v, 4), O::set8(0xF0)));
    v = O::or_(O::and_(O::srli16(v, 2), O::set8(0x33)), O::and_(O::slli16(v, 2), O::set8(0xCC)));
    return O::or_(O::and_(v, O::set8(0xAA)), O::and_(O::slli16(v, 2), O::set8(0x54)));
}

// The map on a block; a template argument, so that each loop has its map
// inlined. An instruction set with a shorter way to a map (arm64's table
// lookup and bit reversal) gives its ops a digit_block or bit_block of
// its own, which is used instead.
template <class ops, byte_map map>
typename ops::vec map_block(typename ops::vec v)
{
    switch (map) {
    case byte_map::digit:
        if constexpr (requires { ops::digit_block(v); })
            return ops::digit_block(v);
        else
            return digit_block<ops>(v);
    case byte_map::bit:
        if constexpr (requires { ops::bit_block(v); })
            return ops::bit_block(v);
        else
            return bit_block<ops>(v);
    }
    __builtin_unreachable();
}

// Which bytes of a block are colour samples: all for 1 and 3 channels,
// every other one for 2, three of every four for 4.
template <class ops, int channels>
typename ops::vec colour_bytes()
{
    if constexpr (channels == 2)
        return ops::set16(0x00FF);
    else if constexpr (channels == 4)
        return ops::set32(0x00FFFFFF);
    else
        return ops::set8(0xFF);
}

template <class ops, byte_map map, int channels>
std::size_t remap_blocks(unsigned char *data, std::size_t bytes)
{
    using O = ops;
    const std::size_t whole = bytes / O::size * O::size;
    const auto colour = colour_bytes<ops, channels>();
    for (std::size_t i = 0; i < whole; i += O::size) {
        const auto v = O::load(data + i);
        auto mapped = map_block<ops, map>(v);
        if constexpr (channels == 2 || channels == 4)
            mapped = O::or_(O::and_(colour, mapped), O::andnot(colour, v));
        O::store(data + i, mapped);
    }
    return whole;
}

// The kernel for a map and channel count given at run time.
template <class ops, byte_map map>
std::size_t remap_blocks_for_channels(unsigned char *data, std::size_t bytes, int channels)
{
    switch (channels) {
    case 1: return remap_blocks<ops, map, 1>(data, bytes);
    case 2: return remap_blocks<ops, map, 2>(data, bytes);
    case 3: return remap_blocks<ops, map, 3>(data, bytes);
    case 4: return remap_blocks<ops, map, 4>(data, bytes);
    }
    return 0;
}

template <class ops>
std::size_t remap_blocks_for(unsigned char *data, std::size_t bytes, byte_map map, int channels)
{
    switch (map) {
    case byte_map::digit: return remap_blocks_for_channels<ops, byte_map::digit>(data, bytes, channels);
    case byte_map::bit: return remap_blocks_for_channels<ops, byte_map::bit>(data, bytes, channels);
    }
    return 0;
}

} // namespace
