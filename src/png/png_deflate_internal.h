// png_deflate_internal: the compressor with its buckets' origin moving
// sooner than every 256 MiB, so that the tests and the fuzz targets reach
// that move in streams of a few MiB. The writer uses png_deflate.h alone.
#pragma once

#include <cstdint>

#include "png/png_deflate.h"

// png_deflate_begin, the origin moving up once it is `every` bytes (at
// least 1) behind the window.
png_deflate *png_deflate_begin_moving_origin(png_deflate_scratch *scratch, std::uint64_t length,
                                             png_deflate_emit *emit, void *context, std::int32_t every);
