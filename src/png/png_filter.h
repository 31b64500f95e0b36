// png_filter: the five PNG row filters, as stb_image_write applies them when
// it picks one per row.
//
// A row of `bytes` bytes with `channels` bytes a pixel (8-bit samples) is
// filtered byte by byte from x (the byte), a (the byte one pixel to the
// left), b (the byte above) and c (above and to the left); bytes left of
// the row are 0, and so is the whole row above the first row (`above`
// null). The filtered byte, modulo
// 256, is
//
//     0 none  x          1 sub  x - a          2 up  x - b
//     3 average  x - floor((a + b) / 2)        4 Paeth  x - paeth(a, b, c)
//
// which for the first row is what stb_image_write writes there too: it
// filters the first row with "up" as with none, with "average" against a
// zero row, and with "Paeth" as with sub, and writes the chosen number 0-4
// as the row's filter byte either way.
//
// png_filter_costs(row, above, bytes, channels, costs) sets costs[f] to the
// sum over the row of |filtered byte| under filter f, the byte taken as a
// signed char: stb_image_write's estimate, whose smallest value (the first
// filter to reach it) chooses the row's filter. 64-bit, so rows of any
// length are summed exactly.
//
// png_filter_row(filter, row, above, channels, start, count, out) writes the
// filtered bytes start .. start + count - 1 of the row to out, so that a
// long row can be produced a piece at a time.
//
// On x86-64 both use SSE2, or AVX2 where the processor has it (chosen when
// called); elsewhere the portable one-byte forms (png_filter_internal.h).
// The tests hold every form to the definition above.
#pragma once

#include <cstddef>
#include <cstdint>

void png_filter_costs(const unsigned char *row, const unsigned char *above, std::size_t bytes,
                      int channels, std::uint64_t costs[5]);

void png_filter_row(int filter, const unsigned char *row, const unsigned char *above, int channels,
                    std::size_t start, std::size_t count, unsigned char *out);
