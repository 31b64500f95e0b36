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
//     png_deflate_scratch *scratch = png_deflate_scratch_make();
//     png_deflate *z = png_deflate_begin(scratch, length, emit, context)
//                                                     null: out of memory
//     repeat: p = png_deflate_space(z, &room); write up to room bytes at p;
//             status = png_deflate_commit(z, n)
//     status = png_deflate_finish(z)
//     ... more streams in the same scratch, one at a time ...
//     png_deflate_scratch_free(scratch)
//
// The stream's bytes go to emit(context, bytes, size) as they are made; emit
// returns false to stop everything. commit and finish say what happened
// (png_deflate_status): going on (commit) or finished (finish, the stream
// whole); stopped, because emit said stop; or restart_stored, because the
// compressed stream has grown past the stored form's size: the caller then
// discards what emit was given, calls png_deflate_restart(z) and feeds the
// same data again from its first byte, which writes the stored form.
//
// commit's n is at most the room space gave, and the data fed in all is
// `length` bytes: the stream doesn't check either, and more would write
// past its window. After stopped the stream may still be fed and finished;
// it makes nothing more, and says stopped.
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

// A stream being made, and the memory streams share: png_deflate.cpp's own.
struct png_deflate;
struct png_deflate_scratch;

// A scratch with nothing in it yet (null without memory): each stream
// allocates what it needs and finds missing, once.
png_deflate_scratch *png_deflate_scratch_make();
void png_deflate_scratch_free(png_deflate_scratch *scratch);

enum class png_deflate_status {
    going,           // all is well so far (commit)
    finished,        // the stream is whole (finish)
    stopped,         // emit said stop; nothing more is given to it
    restart_stored,  // outgrew the stored form: png_deflate_restart, feed again
};

// Starts a stream of `length` bytes in the scratch, ending the one it held;
// null without memory (a null scratch too).
png_deflate *png_deflate_begin(png_deflate_scratch *scratch, std::uint64_t length, png_deflate_emit *emit,
                               void *context);
unsigned char *png_deflate_space(png_deflate *z, std::size_t *room);
png_deflate_status png_deflate_commit(png_deflate *z, std::size_t n);
png_deflate_status png_deflate_finish(png_deflate *z);
void png_deflate_restart(png_deflate *z);

// The size of the stored form of `length` bytes: stb chooses it when the
// compressed stream, with its header, would be larger.
std::uint64_t png_deflate_stored_bound(std::uint64_t length);
