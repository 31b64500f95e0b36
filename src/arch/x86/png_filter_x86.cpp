// png_filter_x86: the choice among the row filters' x86-64 kernels (see
// png_filter_x86.h). The kernels are in files of their own, one instruction
// set each, compiled for that set alone.
#include "arch/x86/png_filter_x86.h"

std::size_t png_filter_costs_x86(const unsigned char *row, const unsigned char *above,
                                 std::size_t start, std::size_t end, int channels,
                                 std::uint64_t costs[5])
{
    return __builtin_cpu_supports("avx2") ? png_filter_costs_avx2(row, above, start, end, channels, costs)
                                          : png_filter_costs_sse2(row, above, start, end, channels, costs);
}

std::size_t png_filter_row_x86(int filter, const unsigned char *row, const unsigned char *above,
                               std::size_t start, std::size_t end, int channels, unsigned char *out)
{
    return __builtin_cpu_supports("avx2") ? png_filter_row_avx2(filter, row, above, start, end, channels, out)
                                          : png_filter_row_sse2(filter, row, above, start, end, channels, out);
}
