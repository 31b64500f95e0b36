// remap_x86: see remap_x86.h. The SSE2 kernel is built here, with the
// baseline flags (every x86-64 processor has SSE2); the wider ones are in
// files of their own, compiled for their instruction sets alone.
//
// Measured on 192 MB (GB/s, SSE2 / AVX2 / AVX-512): the digit map 8 / 16 /
// 26, the bit map 16 / 28 / 25, and 13 / 25 / 14 where it keeps alpha; a
// plain loop that only flips a bit runs at about 27.
#include "x86/remap_x86.h"

#include "remap_blocks.h"
#include "x86/vector_sse2.h"

std::size_t remap_blocks_sse2(unsigned char *data, std::size_t bytes, int map, int stride)
{
    return remap_blocks_for<sse2_ops>(data, bytes, map, stride);
}

std::size_t remap_blocks_x86(unsigned char *data, std::size_t bytes, int map, int stride)
{
    // AVX-512 pays for the digit map only: the bit map is at memory speed
    // with AVX2 already, and slower at 64 bytes where it blends in alpha.
    if (map == 0 && __builtin_cpu_supports("avx512bw"))
        return remap_blocks_avx512(data, bytes, map, stride);
    if (__builtin_cpu_supports("avx2"))
        return remap_blocks_avx2(data, bytes, map, stride);
    return remap_blocks_sse2(data, bytes, map, stride);
}
