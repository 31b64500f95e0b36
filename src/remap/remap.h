// remap: the two byte maps pixremap applies, and the pass that runs one of
// them in place over a decoded image.
//
// digit_remap(v)  writes v's three decimal digits, leading zeros included, in
//                 reverse order, appends a zero and keeps the result modulo 256:
//                 5 is "005", becomes 5000, and 5000 mod 256 is 136.
// bit_remap(v)    reverses v's eight bits and shifts them up one place, modulo
//                 256: v's lowest bit is lost and the result's is always 0.
//
// Both are pure and give only even values. `byte_map` names one of them
// wherever the choice is passed on (to the pass, to its vector kernels);
// map_byte(map, v) applies the one it names.
//
// remap_pixels(data, width, height, channels, map) rewrites, in place, the
// colour samples of every pixel of an interleaved 8-bit image whose rows are
// packed (width * channels bytes each, no gap): red, green and blue when a
// pixel has 3 or 4 samples, the grey sample when it has 1 or 2. Alpha is never
// read or written. It touches no byte outside the width * height * channels
// bytes at data, allocates nothing and cannot fail; a width, height or
// channel count of zero or less leaves the buffer alone.
#pragma once

#include <cstdint>

constexpr std::uint8_t digit_remap(std::uint8_t value)
{
    const unsigned hundreds = value / 100u;
    const unsigned tens = value / 10u % 10u;
    const unsigned units = value % 10u;
    return static_cast<std::uint8_t>(1000u * units + 100u * tens + 10u * hundreds);
}

constexpr std::uint8_t bit_remap(std::uint8_t value)
{
    unsigned r = value;
    r = (r & 0xF0u) >> 4 | (r & 0x0Fu) << 4;  // swap the halves,
    r = (r & 0xCCu) >> 2 | (r & 0x33u) << 2;  // then the pairs in each half,
    r = (r & 0xAAu) >> 1 | (r & 0x55u) << 1;  // then the bits in each pair
    return static_cast<std::uint8_t>(r << 1);
}

enum class byte_map { digit, bit };

// Every switch on a byte_map names each map and has no default, so that a
// third map can't slip through as one of these: the compiler (-Wswitch)
// points at each place that must learn it.
constexpr std::uint8_t map_byte(byte_map map, std::uint8_t value)
{
    switch (map) {
    case byte_map::digit: return digit_remap(value);
    case byte_map::bit: return bit_remap(value);
    }
    __builtin_unreachable();
}

void remap_pixels(unsigned char *data, int width, int height, int channels, byte_map map);
