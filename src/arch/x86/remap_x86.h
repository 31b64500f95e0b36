// remap_x86: the pass's block kernels for x86-64 (see remap/remap_blocks.h
// for what they compute), one per instruction set.
//
// Each rewrites the colour samples of the whole blocks in the first `bytes`
// bytes of an image with `channels` samples a pixel (1 to 4), through
// `map`, and returns the bytes it did, a whole number of blocks; the caller
// does the rest with the portable loop. The kernel table (arch/kernels.h)
// chooses among them, and the tests hold each to the maps; the AVX2 and
// AVX-512 ones must not be called on a processor without those.
#pragma once

#include <cstddef>

#include "remap/remap.h"

// 16, 32 and 64 bytes a block; the last needs AVX-512BW.
std::size_t remap_blocks_sse2(unsigned char *data, std::size_t bytes, byte_map map, int channels);
std::size_t remap_blocks_avx2(unsigned char *data, std::size_t bytes, byte_map map, int channels);
std::size_t remap_blocks_avx512(unsigned char *data, std::size_t bytes, byte_map map, int channels);
