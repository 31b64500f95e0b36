// remap_sse2: the blocks of remap/remap_blocks.h at 16 bytes, with SSE2,
// which every x86-64 processor has (the baseline flags).
#include "arch/x86/remap_x86.h"

#include "arch/x86/vector_sse2.h"
#include "remap/remap_blocks.h"

std::size_t remap_blocks_sse2(unsigned char *data, std::size_t bytes, byte_map map, int channels)
{
    return remap_blocks_for<sse2_ops>(data, bytes, map, channels);
}
