// remap_generic: the blocks of remap/remap_blocks.h at 16 bytes, with GCC's
// vector extensions (see kernels_generic.h for where they are used).
#include "arch/generic/kernels_generic.h"

#include "arch/generic/vector_generic.h"
#include "remap/remap_blocks.h"

std::size_t remap_blocks_generic(unsigned char *data, std::size_t bytes, byte_map map, int channels)
{
    return remap_blocks_for<generic_ops>(data, bytes, map, channels);
}
