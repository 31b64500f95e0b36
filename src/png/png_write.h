// png_write: a packed 8-bit image as a PNG file whose bytes are exactly
// those stb_image_write 1.16 writes with stbi_write_png(name, w, h, c,
// pixels, 0) at its defaults, made a row at a time and handed to a sink as
// they are made.
//
// The file is the PNG signature; IHDR (bit depth 8, colour type 0, 4, 2 or
// 6 for 1 to 4 channels, no interlace); the zlib stream of png_deflate.h
// over the filtered rows in IDAT; IEND. Each row gets the first of filters
// 0-4 with the smallest sum of |filtered byte as signed char|, as stb picks
// it (png_filter.h).
//
// Beyond stb: sizes and sums are 64-bit, so images stb can't encode (a row
// over 16777215 bytes, over 1431655757 bytes of filtered rows) are written
// too, and a zlib stream longer than 2^31 - 1 bytes, which no single chunk
// can hold, is split over IDAT chunks of at most that many bytes; up to
// that length the layout is stb's, one IDAT. Memory: a few MiB of scratch,
// whatever the image's size; the pixels are only read.
//
//     png_sink sink = {context, write, rewrite, truncate};
//     png_scratch *scratch = png_scratch_make();     may be null
//     png_write(sink, pixels, width, height, channels, scratch)
//     ... more images with the same scratch ...
//     png_scratch_free(scratch)
//
// The scratch is the writer's memory, kept from one image to the next so
// that each image after the first starts without allocating it or faulting
// it in again; for a small image that costs more than the writing. With a
// null scratch the writer uses memory of its own for the one image.
//
// The sink takes the file's bytes in order (write), and twice goes back:
// to put an IDAT chunk's length in its place once it is known (rewrite),
// and, for an image that doesn't compress, to drop the compressed stream
// written so far and continue from that point with the stored form
// (truncate). Each returns false to stop the writing; the sink keeps its
// own reason. So a sink must be able to go back over what it was given: a
// memory buffer, or a file that can seek and be cut (not a pipe or a
// terminal), or one that holds the bytes until they are settled.
#pragma once

#include <cstddef>
#include <cstdint>

struct png_sink {
    void *context;
    bool (*write)(void *context, const unsigned char *bytes, std::size_t size);
    bool (*rewrite)(void *context, std::uint64_t offset, const unsigned char *bytes, std::size_t size);
    bool (*truncate)(void *context, std::uint64_t size);
};

enum class png_write_status {
    written,
    sink_failed,    // the sink said stop
    out_of_memory,  // no room for the writer's scratch
    not_an_image,   // a width or height under 1, or channels outside 1-4
};

// The writer's memory, kept from one image to the next: png_write.cpp's own.
struct png_scratch;
png_scratch *png_scratch_make();  // null without memory
void png_scratch_free(png_scratch *scratch);

png_write_status png_write(const png_sink &sink, const unsigned char *pixels, int width,
                           int height, int channels, png_scratch *scratch);
