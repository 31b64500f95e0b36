// png_filter_x86: the filter kernels of png/png_filter_blocks.h for x86-64,
// one pair per instruction set.
//
// Each does the whole blocks from `start` (at least one pixel into the
// row) up to `end` and returns where it stopped; the row filter writes the
// bytes from `start` on to out[0] on. The kernel table (arch/kernels.h)
// chooses among them, and the tests hold each to the one-byte definition.
// The AVX2 ones must not be called on a processor without AVX2.
#pragma once

#include <cstddef>
#include <cstdint>

std::size_t png_filter_costs_sse2(const unsigned char *row, const unsigned char *above,
                                  std::size_t start, std::size_t end, int channels,
                                  std::uint64_t costs[5]);
std::size_t png_filter_row_sse2(int filter, const unsigned char *row, const unsigned char *above,
                                std::size_t start, std::size_t end, int channels, unsigned char *out);
std::size_t png_filter_costs_avx2(const unsigned char *row, const unsigned char *above,
                                  std::size_t start, std::size_t end, int channels,
                                  std::uint64_t costs[5]);
std::size_t png_filter_row_avx2(int filter, const unsigned char *row, const unsigned char *above,
                                std::size_t start, std::size_t end, int channels, unsigned char *out);
