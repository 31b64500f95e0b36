// remap_avx512: the maps on 64-byte blocks with AVX-512BW (see remap_blocks.h), for
// processors that have it. map: 0 digit_remap, 1 bit_remap; stride: samples
// per pixel, 1 to 4. Returns the bytes done, a multiple of 64; the caller
// does the rest.
#pragma once

#include <cstddef>

std::size_t remap_blocks_avx512(unsigned char *data, std::size_t bytes, int map, int stride);
