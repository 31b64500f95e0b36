// remap_x86: the choice among the pass's x86-64 kernels (see remap_x86.h).
// The kernels are in files of their own, one instruction set each, compiled
// for that set alone. The passes' speeds are in README.md (Performance),
// measured with build/bench/remap_bench.
#include "arch/x86/remap_x86.h"

std::size_t remap_blocks_x86(unsigned char *data, std::size_t bytes, byte_map map, int channels)
{
    // AVX-512 pays for the digit map only: the bit map is at memory speed
    // with AVX2 already, and slower at 64 bytes where it blends in alpha.
    bool widest = false;
    switch (map) {
    case byte_map::digit: widest = true; break;
    case byte_map::bit: widest = false; break;
    }
    if (widest && __builtin_cpu_supports("avx512bw"))
        return remap_blocks_avx512(data, bytes, map, channels);
    if (__builtin_cpu_supports("avx2"))
        return remap_blocks_avx2(data, bytes, map, channels);
    return remap_blocks_sse2(data, bytes, map, channels);
}
