// png_filter_simd: the filter kernels of png_filter_blocks.h, one pair per
// x86-64 instruction set. Each does the whole blocks from `start` (at least
// one pixel into the row) up to `end` and returns where it stopped; the
// row filter writes the bytes from `start` on to out[0] on. png_filter.cpp
// picks the widest the processor has; the AVX2 ones must not be called on
// a processor without it.
#pragma once

#include <cstddef>
#include <cstdint>

std::size_t png_filter_costs_sse2(const unsigned char *row, const unsigned char *above,
                                  std::size_t start, std::size_t end, int bpp,
                                  std::uint64_t costs[5]);
std::size_t png_filter_row_sse2(int filter, const unsigned char *row, const unsigned char *above,
                                std::size_t start, std::size_t end, int bpp, unsigned char *out);
std::size_t png_filter_costs_avx2(const unsigned char *row, const unsigned char *above,
                                  std::size_t start, std::size_t end, int bpp,
                                  std::uint64_t costs[5]);
std::size_t png_filter_row_avx2(int filter, const unsigned char *row, const unsigned char *above,
                                std::size_t start, std::size_t end, int bpp, unsigned char *out);
