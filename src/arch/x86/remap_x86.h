// remap_x86: the pass's block kernels for x86-64 (see remap/remap_blocks.h
// for what they compute), one per instruction set, and the choice among
// them.
//
// remap_blocks_x86(data, bytes, map, channels) rewrites the colour samples
// of the whole blocks in the first `bytes` bytes of an image with
// `channels` samples a pixel (1 to 4), through `map`, with the widest
// kernel this processor has that pays for the map, and returns the bytes it
// did, a whole number of blocks; the caller does the rest with the portable
// loop. The kernels themselves are declared for the choice and for the
// tests, which hold each to the maps; the AVX2 and AVX-512 ones must not be
// called on a processor without those.
#pragma once

#include <cstddef>

#include "remap/remap.h"

std::size_t remap_blocks_x86(unsigned char *data, std::size_t bytes, byte_map map, int channels);

// 16, 32 and 64 bytes a block; the last needs AVX-512BW.
std::size_t remap_blocks_sse2(unsigned char *data, std::size_t bytes, byte_map map, int channels);
std::size_t remap_blocks_avx2(unsigned char *data, std::size_t bytes, byte_map map, int channels);
std::size_t remap_blocks_avx512(unsigned char *data, std::size_t bytes, byte_map map, int channels);
