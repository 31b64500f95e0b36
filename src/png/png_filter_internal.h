// png_filter_internal: the row filters of png_filter.h one byte at a time,
// for the tests to hold the vector forms to. They are the definition, and
// the portable form that png_filter.cpp runs on the ends of a row that a
// vector can't cover and on builds without vector kernels.
#pragma once

#include <cstddef>
#include <cstdint>

void png_filter_costs_scalar(const unsigned char *row, const unsigned char *above,
                             std::size_t bytes, int channels, std::uint64_t costs[5]);
void png_filter_row_scalar(int filter, const unsigned char *row, const unsigned char *above,
                           int channels, std::size_t start, std::size_t count, unsigned char *out);
