// remap_x86: the pass's block kernels for x86-64 (see remap_blocks.h for
// what they compute), one per instruction set, and the choice among them.
//
// remap_blocks_x86(data, bytes, map, stride) rewrites the colour samples of
// the whole blocks in the first `bytes` bytes of an image with `stride`
// samples a pixel (1 to 4), through digit_remap (map 0) or bit_remap (map
// 1), with the widest kernel this processor has that pays for the map, and
// returns the bytes it did, a whole number of blocks; the caller does the
// rest with the portable loop. The kernels themselves are declared for the
// tests, which hold each to the maps; the AVX2 and AVX-512 ones must not be
// called on a processor without those.
#pragma once

#include <cstddef>

std::size_t remap_blocks_x86(unsigned char *data, std::size_t bytes, int map, int stride);

std::size_t remap_blocks_sse2(unsigned char *data, std::size_t bytes, int map, int stride);  // 16 bytes
std::size_t remap_blocks_avx2(unsigned char *data, std::size_t bytes, int map, int stride);  // 32 bytes
std::size_t remap_blocks_avx512(unsigned char *data, std::size_t bytes, int map, int stride);  // 64 bytes, AVX-512BW
