// remap: the two byte maps pixremap applies, and the pass that runs one of
// them in place over a decoded image.
//
// digit_remap(v)  writes v's three decimal digits, leading zeros included, in
//                 reverse order, appends a zero and keeps the result modulo 256:
//                 5 is "005", becomes 5000, and 5000 mod 256 is 136.
// bit_remap(v)    reverses v's eight bits and shifts them up one place, modulo
//                 256: v's lowest bit is lost and the result's is always 0.
//
// Both are pure and give only even values.
//
// remap_pixels<map>(data, width, height, channels) rewrites, in place, the
// colour samples of every pixel of an interleaved 8-bit image whose rows are
// packed (width * channels bytes each, no gap): red, green and blue when a
// pixel has 3 or 4 samples, the grey sample when it has 1 or 2. Alpha is never
// read or written. It touches no byte outside the width * height * channels
// bytes at data, allocates nothing and cannot fail; a width, height or
// channel count of zero or less leaves the buffer alone. The map is a template
// argument so that the compiler can inline it into the loop.
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

using byte_map = std::uint8_t (*)(std::uint8_t);

template <byte_map map>
void remap_pixels(unsigned char *data, int width, int height, int channels);

extern template void remap_pixels<digit_remap>(unsigned char *, int, int, int);
extern template void remap_pixels<bit_remap>(unsigned char *, int, int, int);
