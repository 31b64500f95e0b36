// png_deflate: see png_deflate.h.
//
// Written here rather than taken from a library because the bytes must be
// stb_image_write's own, and no library makes stb's choices: zlib and
// libdeflate find other (better) matches. The Adler-32 comes from
// libdeflate.
//
// stb's rules, which every choice below keeps (its stbi_zlib_compress):
//  - Positions are visited from the start while more than 3 bytes are left;
//    the 3 bytes at a position are hashed into one of 16384 buckets.
//  - The candidates are the bucket's positions no more than 32767 bytes
//    back. A match is as long as the bytes agree, at most 258 and at most
//    what is left of the data; the longest of 3 or more wins, and of equal
//    ones the newest.
//  - A bucket holds 16 positions; when a 17th comes, the oldest 8 go first.
//    The position is added after the search, and only positions where a
//    search happens (the start of a match or a literal) are added.
//  - Lazy matching: if the next position's bucket holds a candidate no more
//    than 32767 bytes back from that next position whose match is longer,
//    the current byte is a literal instead.
//  - The last 3 bytes are literals; then the end-of-block code and zero
//    bits to the next byte.
//
// What is done differently, with the same outcome:
//  - The lazy check is the next position's own search, done in full: it
//    sees the same bucket the next position would (the current position is
//    already in it), so when the current byte becomes a literal its result
//    is the next position's match, and no search is done twice.
//  - Each bucket keeps the first 4 bytes at each of its positions beside
//    it, compared all at once (png_deflate_kernels.h, with the vector form
//    the run's kernel table names, arch/kernels.h, chosen once a window's
//    worth of positions): with no candidate agreeing in
//    4, the newest agreeing in 3 is the match, without reading the data;
//    only candidates agreeing in 4 are compared further, 8 bytes at a time
//    (in either byte order).
//    Of those, the one ranking highest by length, then position, wins: the
//    newest of the longest, as stb's newest-wins loop finds it.
//  - The hashes of the positions ahead are computed a block at a time,
//    four at once where there are vector instructions, and the buckets to
//    come are fetched early.
//  - Positions are 32-bit and counted from an origin some way before the
//    window, which moves up only every 256 MiB; a position that falls
//    behind the new origin is kept as the origin itself, which is then
//    always more than 32767 bytes back, so it is still counted in its
//    bucket but never matched, as stb's stale entries are.
#include "png/png_deflate.h"
#include "png/png_deflate_internal.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include <libdeflate.h>
#include <sys/mman.h>

#include "arch/generic/png_deflate_generic.h"
#include "arch/kernels.h"
#include "png/png_deflate_encode.h"
#include "png/png_deflate_kernels.h"
#ifdef PIXREMAP_X86_64
#include "arch/x86/png_deflate_sse2.h"
#include "arch/x86/png_deflate_x86.h"
#endif

// The memory streams share is the state of the one it holds: each stream
// keeps the buffers the one before it allocated.
struct png_deflate_scratch {
    png_deflate stream;
};

namespace {

// The window: the history a match may reach into, the new data, and room
// past the end for bytes a match compare reads ahead (8 at a time).
constexpr std::size_t history = 32768;
constexpr std::size_t new_data = 128 << 10;
// How far behind the window the origin of the buckets' positions may fall
// (tests choose less: png_deflate_internal.h).
constexpr std::int32_t farthest_origin = 1 << 28;
constexpr std::size_t read_ahead = 16;
// A position is encoded once the bytes a search can look at are in: the
// longest match of the next position, and the compare's read-ahead.
constexpr std::size_t lookahead = 1 + longest + 3;
constexpr std::size_t stored_block = 32767;
// Streams up to this long keep their buckets as chains (find_chained).
constexpr std::uint64_t chain_limit = 64 << 10;

void put_bytes(png_deflate *z, const unsigned char *bytes, std::size_t size)
{
    if (z->out_used + size > out_size)
        flush_out(z);
    if (size > out_size) {  // stored data, straight from the window
        if (!z->failed && !z->emit(z->context, bytes, size))
            z->failed = true;
        z->emitted += size;
        return;
    }
    std::memcpy(z->out + z->out_used, bytes, size);
    z->out_used += size;
}

// The same, outside the loop.
void put_bits(png_deflate *z, std::uint32_t bits, unsigned count)
{
    bit_sink s = sink_of(z);
    put_bits(z, s, bits, count);
    keep_sink(z, s);
}

// Zero bits up to the next byte.
void align_bits(png_deflate *z)
{
    if (z->bit_count > 0)
        put_bits(z, 0, 8 - z->bit_count);
}

// The compressed stream so far, in bytes, is more than the stored form.
bool past_stored_bound(const png_deflate *z)
{
    return z->emitted + z->out_used + z->bit_count / 8 > png_deflate_stored_bound(z->length);
}

// What the stream has come to: emit's stop first, then, for the compressed
// form, whether it has outgrown the stored one.
png_deflate_status status_of(const png_deflate *z)
{
    if (z->failed)
        return png_deflate_status::stopped;
    if (!z->stored && past_stored_bound(z))
        return png_deflate_status::restart_stored;
    return png_deflate_status::going;
}

// Encodes what the window allows: all positions with their lookahead in,
// or, with all the data in, the rest, ending the block.
void encode_available(png_deflate *z)
{
    const bool all_in = z->base + z->end == z->length;
    std::size_t stop = 0;
    if (all_in)
        stop = z->length >= 3 ? static_cast<std::size_t>(std::max<std::int64_t>(
                                    0, static_cast<std::int64_t>(z->length - 3 - z->base)))
                              : 0;
    else if (z->end > lookahead)
        stop = z->end - lookahead;
    if (z->encoded_to < stop) {
        switch (kernels().buckets) {
        case bucket_form::portable: encode_with<portable_bucket_kernels>(z, stop); break;
        case bucket_form::generic: encode_with<generic_bucket_kernels>(z, stop); break;
#ifdef PIXREMAP_X86_64
        case bucket_form::sse2: encode_with<sse2_bucket_kernels>(z, stop); break;
        case bucket_form::avx2: png_deflate_encode_avx2(z, stop); break;
        case bucket_form::avx512: png_deflate_encode_avx512(z, stop); break;
#else
        case bucket_form::sse2:
        case bucket_form::avx2:
        case bucket_form::avx512: break;  // x86-64's alone
#endif
        }
    }
}

// Moves the window on so that it keeps the last 32768 bytes before the next
// position. Once the buckets' origin is far behind, it moves up to the
// window's start, and their positions with it.
void slide(png_deflate *z)
{
    if (z->encoded_to <= history)
        return;
    const std::size_t by = z->encoded_to - history;
    std::memmove(z->window, z->window + by, z->end - by);
    z->end -= by;
    z->encoded_to -= by;
    z->base += by;
    z->shift += static_cast<std::int32_t>(by);
    if (z->shift < z->origin_every)
        return;
    const std::int32_t s = z->shift;
    for (int b = 0; b < bucket_count; ++b)
        for (std::int32_t &position : z->buckets[b].position)
            position = position > s ? position - s : 0;
    z->shift = 0;
}

void put_stored(png_deflate *z, const unsigned char *data, std::size_t size)
{
    while (size > 0) {
        const std::uint64_t taken = z->base;
        const std::uint64_t in_block = taken % stored_block;
        if (in_block == 0) {
            const std::uint64_t block = std::min<std::uint64_t>(stored_block, z->length - taken);
            const unsigned n = static_cast<unsigned>(block);
            const unsigned char header[5] = {static_cast<unsigned char>(z->length - taken == block),
                                             static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                             static_cast<unsigned char>(~n), static_cast<unsigned char>(~n >> 8)};
            put_bytes(z, header, sizeof header);
        }
        const auto left_in_block = static_cast<std::size_t>(stored_block - in_block);  // 1 to 32767
        const std::size_t part = std::min(size, left_in_block);
        put_bytes(z, data, part);
        data += part;
        size -= part;
        z->base += part;
    }
}

void put_adler(png_deflate *z)
{
    const std::uint32_t a = z->adler;
    const unsigned char bytes[4] = {static_cast<unsigned char>(a >> 24), static_cast<unsigned char>(a >> 16),
                                    static_cast<unsigned char>(a >> 8), static_cast<unsigned char>(a)};
    put_bytes(z, bytes, sizeof bytes);
}

void start_stream(png_deflate *z)
{
    z->end = z->encoded_to = 0;
    z->base = 0;
    z->shift = 0;
    z->adler = 1;
    z->bits = 0;
    z->bit_count = 0;
    z->out_used = 0;
    z->emitted = 0;
    const unsigned char header[2] = {0x78, 0x5e};
    put_bytes(z, header, sizeof header);
    if (!z->stored) {
        std::memset(z->counts, 0, bucket_count);
        put_bits(z, 3, 3);  // the last block, fixed Huffman codes
    }
}

// The buckets, 2 MiB, in a mapping of their own aligned to 2 MiB and
// offered to the kernel as one huge page (where it has them, and the
// system's setting allows it): a small image touches a bucket on nearly
// every one of the 512 small pages, and each first touch is a page fault,
// two where the first is a read; a huge page is one fault, and a large
// image's scattered bucket reads miss the TLB less. The contents need no
// clearing: only the first `count` positions of a bucket are ever read.
constexpr std::size_t buckets_size = sizeof(png_deflate_bucket) * bucket_count;
static_assert(buckets_size == std::size_t{2} << 20);

png_deflate_bucket *map_buckets()
{
    // Twice the size, then the ends trimmed to leave an aligned middle.
    void *p = mmap(nullptr, 2 * buckets_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (start + buckets_size - 1) & ~(std::uintptr_t{buckets_size} - 1);
    if (aligned > start)
        munmap(p, aligned - start);
    munmap(reinterpret_cast<void *>(aligned + buckets_size), buckets_size - (aligned - start));
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void *>(aligned), buckets_size, MADV_HUGEPAGE);  // a hint; may be refused
#endif
    return reinterpret_cast<png_deflate_bucket *>(aligned);
}

void unmap_buckets(png_deflate_bucket *buckets)
{
    if (buckets)
        munmap(buckets, buckets_size);
}

} // namespace

std::uint64_t png_deflate_stored_bound(std::uint64_t length)
{
    return length + 2 + (length + stored_block - 1) / stored_block * 5;
}

png_deflate_scratch *png_deflate_scratch_make()
{
    return new (std::nothrow) png_deflate_scratch;
}

png_deflate *png_deflate_begin(png_deflate_scratch *scratch, std::uint64_t length, png_deflate_emit *emit,
                               void *context)
{
    if (!scratch)
        return nullptr;
    png_deflate *const z = &scratch->stream;
    z->length = length;
    z->origin_every = farthest_origin;
    z->emit = emit;
    z->context = context;
    z->stored = false;
    z->failed = false;
    // Small images need no more window than their data.
    const std::size_t capacity =
        static_cast<std::size_t>(std::min<std::uint64_t>(history + new_data, length)) + read_ahead;
    if (z->capacity < capacity) {
        std::free(z->window);
        z->window = static_cast<unsigned char *>(std::calloc(capacity, 1));
        z->capacity = z->window ? capacity : 0;
    }
    z->chained = length <= chain_limit;
    if (z->chained && z->chain_capacity < capacity) {
        std::free(z->chain_next);
        z->chain_next = static_cast<std::int32_t *>(std::malloc(sizeof(std::int32_t) * capacity));
        z->chain_capacity = z->chain_next ? capacity : 0;
    }
    if (z->chained && !z->chain_head)
        z->chain_head = static_cast<std::int32_t *>(std::malloc(sizeof(std::int32_t) * bucket_count));
    if (!z->chained && !z->buckets)
        z->buckets = map_buckets();
    if (!z->counts)
        z->counts = static_cast<unsigned char *>(std::malloc(bucket_count));
    if (!z->out)
        z->out = static_cast<unsigned char *>(std::malloc(out_size + 8));
    if (!z->hashes)
        z->hashes = static_cast<std::uint16_t *>(std::malloc(sizeof(std::uint16_t) * hash_block));
    if (!z->window || !z->counts || !z->out || !z->hashes ||
        (z->chained ? !z->chain_head || !z->chain_next : !z->buckets))
        return nullptr;
    start_stream(z);
    return z;
}

void png_deflate_scratch_free(png_deflate_scratch *scratch)
{
    if (!scratch)
        return;
    const png_deflate &z = scratch->stream;
    std::free(z.window);
    unmap_buckets(z.buckets);
    std::free(z.chain_head);
    std::free(z.chain_next);
    std::free(z.counts);
    std::free(z.out);
    std::free(z.hashes);
    delete scratch;
}

unsigned char *png_deflate_space(png_deflate *z, std::size_t *room)
{
    if (z->stored) {
        // The stored form passes data straight through.
        *room = z->capacity - read_ahead;
        return z->window;
    }
    // Slide when the room left is short of half the new data, unless what
    // is still to come fits anyway.
    const std::uint64_t to_come = z->length - (z->base + z->end);
    if (z->capacity - read_ahead - z->end < std::min<std::uint64_t>(new_data / 2, to_come))
        slide(z);
    *room = z->capacity - read_ahead - z->end;
    return z->window + z->end;
}

png_deflate_status png_deflate_commit(png_deflate *z, std::size_t n)
{
    if (z->stored) {
        z->adler = libdeflate_adler32(z->adler, z->window, n);
        put_stored(z, z->window, n);
        return status_of(z);
    }
    z->adler = libdeflate_adler32(z->adler, z->window + z->end, n);
    z->end += n;
    encode_available(z);
    return status_of(z);
}

png_deflate_status png_deflate_finish(png_deflate *z)
{
    if (!z->stored) {
        encode_available(z);
        // The last bytes are literals.
        for (std::size_t i = z->encoded_to; i < z->end; ++i) {
            const code lit = tables.literal[z->window[i]];
            put_bits(z, lit.bits, lit.count);
        }
        z->encoded_to = z->end;
        put_bits(z, 0, 7);  // end of block
        align_bits(z);
        const png_deflate_status status = status_of(z);
        if (status != png_deflate_status::going)
            return status;
    }
    // The Adler-32 comes after stb has compared the sizes.
    put_adler(z);
    flush_out(z);
    return z->failed ? png_deflate_status::stopped : png_deflate_status::finished;
}

png_deflate *png_deflate_begin_moving_origin(png_deflate_scratch *scratch, std::uint64_t length,
                                             png_deflate_emit *emit, void *context, std::int32_t every)
{
    png_deflate *const z = png_deflate_begin(scratch, length, emit, context);
    if (z)
        z->origin_every = every;
    return z;
}

void png_deflate_restart(png_deflate *z)
{
    z->stored = true;
    start_stream(z);
}
