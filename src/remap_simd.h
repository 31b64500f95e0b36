// remap_simd: the pass's block kernels, one per x86-64 instruction set (see
// remap_blocks.h for what they compute). Each rewrites the colour samples of
// the whole blocks in the first `bytes` bytes of an image with `stride`
// samples a pixel (1 to 4), through digit_remap (map 0) or bit_remap (map
// 1), and returns the bytes it did, a whole number of blocks; the caller
// does the rest. remap.cpp picks the widest the processor has; the AVX2 and
// AVX-512 ones must not be called on a processor without those.
#pragma once

#include <cstddef>

std::size_t remap_blocks_sse2(unsigned char *data, std::size_t bytes, int map, int stride);  // 16 bytes
std::size_t remap_blocks_avx2(unsigned char *data, std::size_t bytes, int map, int stride);  // 32 bytes
std::size_t remap_blocks_avx512(unsigned char *data, std::size_t bytes, int map, int stride);  // 64 bytes, AVX-512BW
