// png_write: see png_write.h.
//
// The rows go through the filter search and into the zlib stream a window
// at a time: the stream's compressor (png_deflate) lends the space, this
// unit fills it with filtered rows, a row's filter byte first. Long rows
// are filtered a piece at a time. The compressed bytes go into IDAT chunks
// as they come, each chunk's length written into its place once known.
// Should the compressed stream outgrow the stored form (noise), it is cut
// off, the sink truncated back to the first IDAT, and the rows fed once
// more to make the stored form. CRC-32s come from libdeflate.
#include "png/png_write.h"
#include "png/png_write_internal.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <libdeflate.h>

#include "png/png_deflate.h"
#include "png/png_filter.h"

namespace {

struct image {
    const unsigned char *pixels;
    std::size_t row_bytes, rows;
    int channels;  // bytes per pixel, as the filters count back
};

std::uint32_t crc_of(std::uint32_t crc, const unsigned char *bytes, std::size_t size)
{
    return libdeflate_crc32(crc, bytes, size);
}

void put32(unsigned char *at, std::uint32_t v)
{
    at[0] = static_cast<unsigned char>(v >> 24);
    at[1] = static_cast<unsigned char>(v >> 16);
    at[2] = static_cast<unsigned char>(v >> 8);
    at[3] = static_cast<unsigned char>(v);
}

// The IDAT chunks the zlib stream is written into.
struct idat_chunks {
    const png_sink *sink;
    std::uint32_t largest;
    std::uint64_t written = 0;      // bytes the sink holds
    std::uint64_t first = 0;        // where the first IDAT starts
    std::uint64_t chunk_start = 0;  // where the open chunk's length goes
    std::uint32_t used = 0;         // data in the open chunk
    bool open = false;
    std::uint32_t crc = 0;
};

bool sink_write(idat_chunks *c, const unsigned char *bytes, std::size_t size)
{
    c->written += size;
    return c->sink->write(c->sink->context, bytes, size);
}

bool close_chunk(idat_chunks *c)
{
    unsigned char end[4], length[4];
    put32(end, c->crc);
    put32(length, c->used);
    c->open = false;
    return sink_write(c, end, 4) &&
           c->sink->rewrite(c->sink->context, c->chunk_start, length, 4);
}

bool put_stream(void *context, const unsigned char *bytes, std::size_t size)
{
    auto *c = static_cast<idat_chunks *>(context);
    while (size > 0) {
        if (!c->open) {
            static const unsigned char head[8] = {0, 0, 0, 0, 'I', 'D', 'A', 'T'};
            c->chunk_start = c->written;
            c->used = 0;
            c->open = true;
            c->crc = crc_of(0, head + 4, 4);
            if (!sink_write(c, head, 8))
                return false;
        }
        const std::size_t part = std::min<std::size_t>(size, c->largest - c->used);
        c->crc = crc_of(c->crc, bytes, part);
        c->used += static_cast<std::uint32_t>(part);
        if (!sink_write(c, bytes, part))
            return false;
        bytes += part;
        size -= part;
        if (c->used == c->largest && !close_chunk(c))
            return false;
    }
    return true;
}

// The index of the smallest cost, the first of equal ones.
int cheapest(const std::uint64_t costs[5])
{
    int best = 0;
    for (int f = 1; f < 5; ++f)
        if (costs[f] < costs[best])
            best = f;
    return best;
}

// Feeds the filtered rows into the stream, and ends it; what the stream
// came to.
png_deflate_status feed_rows(png_deflate *z, const image &im)
{
    std::size_t y = 0, k = 0;  // the row, and the bytes of it done
    int filter = -1;           // the row's filter, once its byte is out
    while (y < im.rows) {
        std::size_t room = 0;
        unsigned char *space = png_deflate_space(z, &room);
        std::size_t used = 0;
        while (used < room && y < im.rows) {
            const unsigned char *row = im.pixels + y * im.row_bytes;
            const unsigned char *above = y > 0 ? row - im.row_bytes : nullptr;
            if (filter < 0) {
                std::uint64_t costs[5];
                png_filter_costs(row, above, im.row_bytes, im.channels, costs);
                filter = cheapest(costs);
                space[used++] = static_cast<unsigned char>(filter);
                continue;
            }
            const std::size_t part = std::min(room - used, im.row_bytes - k);
            png_filter_row(filter, row, above, im.channels, k, part, space + used);
            used += part;
            k += part;
            if (k == im.row_bytes) {
                ++y;
                k = 0;
                filter = -1;
            }
        }
        const png_deflate_status status = png_deflate_commit(z, used);
        if (status != png_deflate_status::going)
            return status;
    }
    return png_deflate_finish(z);
}

png_write_status write_image(const png_sink &sink, const image &im,
                             std::uint32_t width, std::uint32_t height, std::uint32_t largest,
                             png_deflate_scratch *scratch)
{
    idat_chunks chunks{&sink, largest};
    // The scratch first, so that a writer without memory writes nothing.
    png_deflate *const z = png_deflate_begin(scratch, static_cast<std::uint64_t>(im.rows) * (im.row_bytes + 1),
                                             put_stream, &chunks);
    if (!z)
        return png_write_status::out_of_memory;
    // The signature and IHDR.
    static const int colour_type[] = {-1, 0, 4, 2, 6};
    unsigned char head[33] = {137, 80, 78, 71, 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    put32(head + 16, width);
    put32(head + 20, height);
    head[24] = 8;
    head[25] = static_cast<unsigned char>(colour_type[im.channels]);
    put32(head + 29, crc_of(0, head + 12, 17));
    if (!sink_write(&chunks, head, sizeof head))
        return png_write_status::sink_failed;
    chunks.first = chunks.written;

    png_deflate_status status = feed_rows(z, im);
    if (status == png_deflate_status::restart_stored) {
        // The stored form replaces what was written of the compressed one.
        chunks.open = false;
        chunks.written = chunks.first;
        if (!sink.truncate(sink.context, chunks.first))
            return png_write_status::sink_failed;
        png_deflate_restart(z);
        status = feed_rows(z, im);
    }
    if (status != png_deflate_status::finished || (chunks.open && !close_chunk(&chunks)))
        return png_write_status::sink_failed;

    static const unsigned char tail[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    return sink_write(&chunks, tail, sizeof tail) ? png_write_status::written
                                                  : png_write_status::sink_failed;
}

} // namespace

// The writer's memory is its compressor's.
struct png_scratch {
    png_deflate_scratch *deflate;
};

png_scratch *png_scratch_make()
{
    png_deflate_scratch *deflate = png_deflate_scratch_make();
    png_scratch *scratch = deflate ? new (std::nothrow) png_scratch{deflate} : nullptr;
    if (!scratch)
        png_deflate_scratch_free(deflate);
    return scratch;
}

void png_scratch_free(png_scratch *scratch)
{
    if (!scratch)
        return;
    png_deflate_scratch_free(scratch->deflate);
    delete scratch;
}

png_write_status png_write_split(const png_sink &sink, const unsigned char *pixels, int width,
                                 int height, int channels, png_scratch *scratch,
                                 std::uint32_t largest_idat)
{
    if (width < 1 || height < 1 || channels < 1 || channels > 4 || largest_idat < 1)
        return png_write_status::not_an_image;
    const image im = {pixels, static_cast<std::size_t>(width) * static_cast<std::size_t>(channels),
                      static_cast<std::size_t>(height), channels};
    png_deflate_scratch *own = scratch ? nullptr : png_deflate_scratch_make();
    if (!scratch && !own)
        return png_write_status::out_of_memory;
    const png_write_status status =
        write_image(sink, im, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                    largest_idat, scratch ? scratch->deflate : own);
    png_deflate_scratch_free(own);
    return status;
}

png_write_status png_write(const png_sink &sink, const unsigned char *pixels, int width,
                           int height, int channels, png_scratch *scratch)
{
    return png_write_split(sink, pixels, width, height, channels, scratch, png_largest_idat);
}
