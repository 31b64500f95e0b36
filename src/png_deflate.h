// png_deflate: the zlib stream stb_image_write 1.16 puts in a PNG's IDAT
// chunk (its stbi_zlib_compress at quality 8), byte for byte, made as the
// data comes in and handed on as it is made.
//
// The stream is a 2-byte header (0x78 0x5e), then either one block of
// fixed-Huffman codes, with matches chosen exactly as stb chooses them, or,
// when that would be larger than length + 2 + 5 per 32767 bytes, the data
// as stored blocks of 32767 bytes; then the Adler-32 of the data. The total
// length of the data must be known at the start: stb's choices near the end
// depend on it.
//
//     png_deflate_scratch scratch;                    kept for the next stream
//     png_deflate z;
//     png_deflate_begin(&z, length, emit, context, &scratch)
//                                                     false: out of memory
//     repeat: p = png_deflate_space(&z, &room); write up to room bytes at p;
//             png_deflate_commit(&z, n)
//     png_deflate_finish(&z)
//     ... more streams with the same scratch ...
//     png_deflate_scratch_free(&scratch)
//
// The stream's bytes go to emit(context, bytes, size) as they are made; emit
// returns false to stop everything. commit and finish return false when
// emit did, or when the stream has grown past the stored form's size:
// z.stored is then set, and the caller starts again from the first byte of
// data with png_deflate_restart(&z) (after discarding what emit was given),
// feeding the same data; that second pass writes the stored form.
//
// Match finding follows stb's rules (see png_deflate.cpp) with the work
// bounded: fixed-size hash buckets that also keep the first bytes at each
// position, a window that slides over the last 32 KiB plus 128 KiB of new
// data, compares eight bytes at a time. A stream of at most 64 KiB keeps
// its buckets as chains through the data instead, a few hundred KiB that
// its searches stay within. Memory: about 2.3 MiB (2 MiB of it the
// buckets), whatever the length, held in a png_deflate_scratch that
// streams made one after another share: a stream starts by forgetting the
// buckets' positions (their counts), not by clearing or allocating 2 MiB,
// which for a small image would cost more than compressing it. The buckets
// are aligned to 2 MiB and offered to the kernel as a huge page, so that
// the first stream's scattered touches fault them in at once rather than
// page by page.
#pragma once

#include <cstddef>
#include <cstdint>

using png_deflate_emit = bool(void *context, const unsigned char *bytes, std::size_t size);

// One of stb's hash buckets: up to 16 positions, oldest first, and the
// first four bytes of the data at each.
struct png_deflate_bucket {
    std::int32_t at[16];
    std::uint32_t head[16];
};

// A stream's memory: png_deflate_begin allocates what is missing or too
// small and uses the rest as it finds it.
struct png_deflate_scratch {
    unsigned char *window = nullptr;
    std::size_t capacity = 0;
    png_deflate_bucket *buckets = nullptr;
    std::int32_t *chain_head = nullptr;  // short streams' buckets (png_deflate.cpp)
    std::int32_t *chain_next = nullptr;
    std::size_t chain_capacity = 0;
    unsigned char *counts = nullptr;
    std::uint16_t *hashes = nullptr;
    unsigned char *out = nullptr;
};

void png_deflate_scratch_free(png_deflate_scratch *scratch);

struct png_deflate {
    std::uint64_t length = 0;      // bytes of data the stream holds
    png_deflate_emit *emit = nullptr;
    void *context = nullptr;
    bool stored = false;           // making the stored form
    bool failed = false;           // emit said stop

    // The data: a window over it, starting at offset `base` of the data.
    // The window and the other buffers are the scratch's.
    unsigned char *window = nullptr;
    std::size_t capacity = 0, end = 0, at = 0;  // at: the next byte to encode
    std::uint64_t base = 0;
    std::uint32_t adler = 1;

    // stb's 16384 buckets, their positions counted from `shift` bytes
    // before the window's start; for a short stream, chains instead.
    png_deflate_bucket *buckets = nullptr;
    std::int32_t *chain_head = nullptr, *chain_next = nullptr;
    unsigned char *counts = nullptr;
    std::int32_t shift = 0;
    std::uint16_t *hashes = nullptr;  // scratch: the hashes of positions ahead

    // The stream's bytes on their way out.
    std::uint64_t bits = 0;
    unsigned bit_count = 0;
    unsigned char *out = nullptr;
    std::size_t out_used = 0;
    std::uint64_t emitted = 0;     // bytes given to emit so far
};

bool png_deflate_begin(png_deflate *z, std::uint64_t length, png_deflate_emit *emit, void *context,
                       png_deflate_scratch *scratch);
unsigned char *png_deflate_space(png_deflate *z, std::size_t *room);
bool png_deflate_commit(png_deflate *z, std::size_t n);
bool png_deflate_finish(png_deflate *z);
void png_deflate_restart(png_deflate *z);

// The size of the stored form of `length` bytes: stb chooses it when the
// compressed stream, with its header, would be larger.
std::uint64_t png_deflate_stored_bound(std::uint64_t length);
