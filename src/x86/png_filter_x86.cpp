// png_filter_x86: see png_filter_x86.h. The SSE2 kernels are built here,
// with the baseline flags (every x86-64 processor has SSE2); the AVX2 ones
// in png_filter_avx2.cpp, compiled for AVX2 alone.
#include "x86/png_filter_x86.h"

#include "png_filter_blocks.h"
#include "x86/vector_sse2.h"

std::size_t png_filter_costs_sse2(const unsigned char *row, const unsigned char *above,
                                  std::size_t start, std::size_t end, int bpp,
                                  std::uint64_t costs[5])
{
    return filter_costs_blocks_for<sse2_ops>(row, above, start, end, bpp, costs);
}

std::size_t png_filter_row_sse2(int filter, const unsigned char *row, const unsigned char *above,
                                std::size_t start, std::size_t end, int bpp, unsigned char *out)
{
    return filter_row_blocks_for<sse2_ops>(filter, row, above, start, end, bpp, out);
}

std::size_t png_filter_costs_x86(const unsigned char *row, const unsigned char *above,
                                 std::size_t start, std::size_t end, int bpp,
                                 std::uint64_t costs[5])
{
    return __builtin_cpu_supports("avx2") ? png_filter_costs_avx2(row, above, start, end, bpp, costs)
                                          : png_filter_costs_sse2(row, above, start, end, bpp, costs);
}

std::size_t png_filter_row_x86(int filter, const unsigned char *row, const unsigned char *above,
                               std::size_t start, std::size_t end, int bpp, unsigned char *out)
{
    return __builtin_cpu_supports("avx2") ? png_filter_row_avx2(filter, row, above, start, end, bpp, out)
                                          : png_filter_row_sse2(filter, row, above, start, end, bpp, out);
}
