// png_write_internal: the PNG writer with a smaller IDAT chunk than PNG's
// largest, so that the tests can see a long stream split over chunks
// without writing 2 GiB. The tool writes through png_write (png_write.h).
#pragma once

#include <cstdint>

#include "png/png_write.h"

// The most data one IDAT chunk holds: 2^31 - 1, the most any PNG chunk may.
constexpr std::uint32_t png_largest_idat = 0x7fffffff;

// png_write, with IDAT chunks of at most `largest_idat` bytes.
png_write_status png_write_split(const png_sink &sink, const unsigned char *pixels, int width,
                                 int height, int channels, png_scratch *scratch,
                                 std::uint32_t largest_idat);
