// remap_avx2: the blocks of remap/remap_blocks.h at 32 bytes, compiled with
// AVX2 for this file alone. The kernel table (arch/kernels.h) uses it only
// on processors that have AVX2.
#include "arch/x86/remap_x86.h"

#include "arch/x86/vector_avx2.h"
#include "remap/remap_blocks.h"

std::size_t remap_blocks_avx2(unsigned char *data, std::size_t bytes, byte_map map, int channels)
{
    return remap_blocks_for<avx2_ops>(data, bytes, map, channels);
}
