// png_filter: see png_filter.h.
//
// A row is done in three parts: its first pixel and any bytes up to where a
// vector block can load the pixel to its left, one byte at a time; whole
// blocks, through the run's kernel table (arch/kernels.h: x86-64's 16 bytes
// with SSE2 or 32 with AVX2, or the generic 16-byte kernels where the target
// has vectors); and the bytes after the last whole block, one at a time.
// Where the table has no kernels the one-byte form, the definition, does
// the whole row.
#include "png/png_filter.h"
#include "png/png_filter_internal.h"

#include <cstdlib>

#include "arch/kernels.h"

namespace {

unsigned paeth_scalar(int a, int b, int c)
{
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return static_cast<unsigned>(a);
    return static_cast<unsigned>(pb <= pc ? b : c);
}

unsigned char filter_byte(int filter, const unsigned char *row, const unsigned char *above,
                          int channels, std::size_t k)
{
    const int x = row[k];
    const int a = k >= static_cast<std::size_t>(channels) ? row[k - channels] : 0;
    const int b = above ? above[k] : 0;
    const int c = above && k >= static_cast<std::size_t>(channels) ? above[k - channels] : 0;
    int predicted = 0;
    switch (filter) {
    case 1: predicted = a; break;
    case 2: predicted = b; break;
    case 3: predicted = (a + b) >> 1; break;
    case 4: predicted = static_cast<int>(paeth_scalar(a, b, c)); break;
    }
    return static_cast<unsigned char>(x - predicted);
}

void add_costs(const unsigned char *row, const unsigned char *above, std::size_t from,
               std::size_t to, int channels, std::uint64_t costs[5])
{
    for (std::size_t k = from; k < to; ++k)
        for (int f = 0; f < 5; ++f)
            costs[f] += static_cast<std::uint64_t>(
                std::abs(static_cast<signed char>(filter_byte(f, row, above, channels, k))));
}

// Where the vector blocks may start: one pixel in, so that the bytes to
// the left can be loaded.
std::size_t first_block(std::size_t bytes, int channels)
{
    const auto one_pixel = static_cast<std::size_t>(channels);
    return bytes < one_pixel ? bytes : one_pixel;
}

} // namespace

void png_filter_costs_scalar(const unsigned char *row, const unsigned char *above,
                             std::size_t bytes, int channels, std::uint64_t costs[5])
{
    for (int f = 0; f < 5; ++f)
        costs[f] = 0;
    add_costs(row, above, 0, bytes, channels, costs);
}

void png_filter_row_scalar(int filter, const unsigned char *row, const unsigned char *above,
                           int channels, std::size_t start, std::size_t count, unsigned char *out)
{
    for (std::size_t k = start; k < start + count; ++k)
        out[k - start] = filter_byte(filter, row, above, channels, k);
}

void png_filter_costs(const unsigned char *row, const unsigned char *above, std::size_t bytes,
                      int channels, std::uint64_t costs[5])
{
    for (int f = 0; f < 5; ++f)
        costs[f] = 0;
    std::size_t k = first_block(bytes, channels);
    add_costs(row, above, 0, k, channels, costs);
    k = kernels().filter_costs(row, above, k, bytes, channels, costs);
    add_costs(row, above, k, bytes, channels, costs);
}

void png_filter_row(int filter, const unsigned char *row, const unsigned char *above, int channels,
                    std::size_t start, std::size_t count, unsigned char *out)
{
    const std::size_t end = start + count;
    std::size_t k = start;
    const std::size_t vector_start = first_block(end, channels);
    if (k < vector_start) {
        png_filter_row_scalar(filter, row, above, channels, k, vector_start - k, out);
        k = vector_start;
    }
    k = kernels().filter_row(filter, row, above, k, end, channels, out + (k - start));
    png_filter_row_scalar(filter, row, above, channels, k, end - k, out + (k - start));
}
