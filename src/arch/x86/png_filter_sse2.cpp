// png_filter_sse2: the filter kernels of png/png_filter_blocks.h at 16
// bytes, with SSE2, which every x86-64 processor has (the baseline flags).
#include "arch/x86/png_filter_x86.h"

#include "arch/x86/vector_sse2.h"
#include "png/png_filter_blocks.h"

std::size_t png_filter_costs_sse2(const unsigned char *row, const unsigned char *above,
                                  std::size_t start, std::size_t end, int channels,
                                  std::uint64_t costs[5])
{
    return filter_costs_blocks_for<sse2_ops>(row, above, start, end, channels, costs);
}

std::size_t png_filter_row_sse2(int filter, const unsigned char *row, const unsigned char *above,
                                std::size_t start, std::size_t end, int channels, unsigned char *out)
{
    return filter_row_blocks_for<sse2_ops>(filter, row, above, start, end, channels, out);
}
