// png_filter_generic: the filter kernels of png/png_filter_blocks.h at 16
// bytes, with GCC's vector extensions (see kernels_generic.h for where they
// are used).
#include "arch/generic/kernels_generic.h"

#include "arch/generic/vector_generic.h"
#include "png/png_filter_blocks.h"

std::size_t png_filter_costs_generic(const unsigned char *row, const unsigned char *above,
                                     std::size_t start, std::size_t end, int channels,
                                     std::uint64_t costs[5])
{
    return filter_costs_blocks_for<generic_ops>(row, above, start, end, channels, costs);
}

std::size_t png_filter_row_generic(int filter, const unsigned char *row, const unsigned char *above,
                                   std::size_t start, std::size_t end, int channels, unsigned char *out)
{
    return filter_row_blocks_for<generic_ops>(filter, row, above, start, end, channels, out);
}
