// png_filter_avx2: the filter kernels of png/png_filter_blocks.h at 32
// bytes, compiled with AVX2 for this file alone. The kernel table
// (arch/kernels.h) uses them only on processors that have AVX2.
#include "arch/x86/png_filter_x86.h"

#include "arch/x86/vector_avx2.h"
#include "png/png_filter_blocks.h"

std::size_t png_filter_costs_avx2(const unsigned char *row, const unsigned char *above,
                                  std::size_t start, std::size_t end, int channels,
                                  std::uint64_t costs[5])
{
    return filter_costs_blocks_for<avx2_ops>(row, above, start, end, channels, costs);
}

std::size_t png_filter_row_avx2(int filter, const unsigned char *row, const unsigned char *above,
                                std::size_t start, std::size_t end, int channels, unsigned char *out)
{
    return filter_row_blocks_for<avx2_ops>(filter, row, above, start, end, channels, out);
}
