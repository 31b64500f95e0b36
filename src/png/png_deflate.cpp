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
#include "png/png_deflate_kernels.h"
#ifdef PIXREMAP_X86_64
#include "arch/x86/png_deflate_sse2.h"
#endif

// The stream's state.
struct png_deflate {
    std::uint64_t length = 0;      // bytes of data the stream holds
    png_deflate_emit *emit = nullptr;
    void *context = nullptr;
    bool stored = false;           // making the stored form
    bool failed = false;           // emit said stop

    // The data: a window over it, starting at offset `base` of the data.
    unsigned char *window = nullptr;
    std::size_t capacity = 0, end = 0;
    std::size_t encoded_to = 0;  // the next position to encode
    std::uint64_t base = 0;
    std::uint32_t adler = 1;

    // stb's 16384 buckets, their positions counted from `shift` bytes
    // before the window's start; for a short stream (`chained`), chains
    // through the data instead.
    bool chained = false;
    png_deflate_bucket *buckets = nullptr;
    std::int32_t *chain_head = nullptr, *chain_next = nullptr;
    std::size_t chain_capacity = 0;
    unsigned char *counts = nullptr;
    std::int32_t shift = 0;
    std::int32_t origin_every = 0;  // how far behind the origin may fall
    std::uint16_t *hashes = nullptr;  // the hashes of positions ahead

    // The stream's bytes on their way out.
    std::uint64_t bits = 0;
    unsigned bit_count = 0;
    unsigned char *out = nullptr;
    std::size_t out_used = 0;
    std::uint64_t emitted = 0;     // bytes given to emit so far
};

// The memory streams share is the state of the one it holds: each stream
// keeps the buffers the one before it allocated.
struct png_deflate_scratch {
    png_deflate stream;
};

namespace {


constexpr int bucket_count = deflate_bucket_count;
constexpr int bucket_size = deflate_bucket_size;  // 2 x stb's quality 8
static_assert(bucket_size == sizeof(png_deflate_bucket::position) / sizeof(std::int32_t));
constexpr int farthest = 32767;      // the farthest a match may reach back
constexpr std::size_t longest = 258;
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
constexpr std::size_t out_size = 1 << 16;
constexpr std::size_t hash_block = 4096;  // positions hashed at a time
constexpr std::size_t stored_block = 32767;
// Streams up to this long keep their buckets as chains (find_chained).
constexpr std::uint64_t chain_limit = 64 << 10;

// The fixed Huffman codes, bit-reversed for output, and the length and
// distance codes with their extra bits in one value each.
struct code {
    std::uint32_t bits;
    unsigned count;
};

constexpr std::uint32_t reversed(std::uint32_t value, unsigned count)
{
    std::uint32_t r = 0;
    for (unsigned k = 0; k < count; ++k, value >>= 1)
        r = r << 1 | (value & 1);
    return r;
}

constexpr code symbol_code(unsigned n)
{
    if (n <= 143)
        return {reversed(0x30 + n, 8), 8};
    if (n <= 255)
        return {reversed(0x190 + n - 144, 9), 9};
    if (n <= 279)
        return {reversed(n - 256, 7), 7};
    return {reversed(0xc0 + n - 280, 8), 8};
}

constexpr unsigned short length_base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 259};
constexpr unsigned char length_extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

struct code_tables {
    code literal[256];
    code length[longest + 1];  // symbol and extra bits, for lengths 3-258
};

constexpr code_tables make_tables()
{
    code_tables t{};
    for (unsigned n = 0; n < 256; ++n)
        t.literal[n] = symbol_code(n);
    for (unsigned len = 3; len <= longest; ++len) {
        unsigned j = 0;
        while (len > length_base[j + 1] - 1u)
            ++j;
        const code symbol = symbol_code(257 + j);
        t.length[len] = {symbol.bits | (len - length_base[j]) << symbol.count, symbol.count + length_extra[j]};
    }
    return t;
}

constexpr code_tables tables = make_tables();

// The 5-bit distance symbols, bit-reversed.
struct distance_symbols {
    unsigned char reversed[32];
};

constexpr distance_symbols make_distance_symbols()
{
    distance_symbols t{};
    for (unsigned n = 0; n < 32; ++n)
        t.reversed[n] = static_cast<unsigned char>(reversed(n, 5));
    return t;
}

constexpr distance_symbols distance_symbol = make_distance_symbols();

// The distance code of d (1-32768) with its extra bits: symbols 0-3 for 1-4,
// then two symbols for each power of two, told apart by the bit below the
// top one of d - 1, the bits below that being the extra bits.
code distance_code(unsigned d)
{
    const unsigned v = d - 1;
    if (v < 4)
        return {distance_symbol.reversed[v], 5};
    const unsigned top = 31u - static_cast<unsigned>(__builtin_clz(v));  // 2 or more
    const unsigned extra = top - 1;
    const unsigned symbol = 2 * top + (v >> extra & 1);
    return {distance_symbol.reversed[symbol] | (v & ((1u << extra) - 1)) << 5, 5 + extra};
}

// Hands the bytes made so far to emit; once emit has failed they are only
// counted.
void flush_out(png_deflate *z)
{
    if (z->out_used == 0)
        return;
    if (!z->failed && !z->emit(z->context, z->out, z->out_used))
        z->failed = true;
    z->emitted += z->out_used;
    z->out_used = 0;
}

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

// Adds up to 31 bits. The bit buffer keeps fewer than 8 bits between calls:
// eight bytes are stored each time and the whole ones counted, so nothing
// branches on how many bits there are.
void put_bits(png_deflate *z, std::uint32_t bits, unsigned count)
{
    z->bits |= static_cast<std::uint64_t>(bits) << z->bit_count;
    z->bit_count += count;
    unsigned char *dest = z->out + z->out_used;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(dest, &z->bits, 8);
    } else {
        for (int k = 0; k < 8; ++k)
            dest[k] = static_cast<unsigned char>(z->bits >> (8 * k));
    }
    const unsigned whole = z->bit_count / 8;
    z->out_used += whole;
    z->bits >>= 8 * whole;
    z->bit_count -= 8 * whole;
    if (z->out_used >= out_size)
        flush_out(z);
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

// How many bytes from a and b agree, at most limit; reads up to 7 bytes
// past the limit.
std::size_t match_length(const unsigned char *a, const unsigned char *b, std::size_t limit)
{
    std::size_t n = 0;
    while (n < limit) {
        std::uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) {
            // The first byte that differs is the lowest one in memory: the
            // low end of the word on a little-endian machine, the high end
            // on a big-endian one.
            const std::uint64_t d = x ^ y;
            const int first = std::endian::native == std::endian::little ? std::countr_zero(d)
                                                                         : std::countl_zero(d);
            return std::min(limit, n + static_cast<std::size_t>(first / 8));
        }
        n += 8;
    }
    return limit;
}

// The longest match for the position at offset i, as stb finds it: of the
// positions in its bucket no more than 32767 back, the one whose bytes
// agree with i's for longest, at most `limit`, 3 or more; of equal ones the
// newest. Its length is 2 or less when there is none.
struct match {
    std::uint32_t hash;   // the position's bucket
    std::size_t length;   // bytes that agree
    std::int32_t from;    // the position they agree with
};

// The newest slot of a mask of compare_bucket's (not 0).
[[gnu::always_inline]] inline unsigned newest(unsigned mask)
{
    return 31u - static_cast<unsigned>(__builtin_clz(mask));
}

// The bucket's first four bytes at each position decide most searches
// without reading the window: with none agreeing in all four, the newest
// that agrees in three is the match. Candidates that agree in four are
// compared further, eight bytes at a time, and ranked by length, then by
// position (the larger, the newer). Near the end of the data, with fewer
// than 8 bytes left, every candidate is compared byte by byte.
template <class bucket_kernels>
[[gnu::always_inline]] inline match find_match(const png_deflate *z, std::size_t i, std::uint32_t hash,
                                                std::size_t limit)
{
    const unsigned char *const w = z->window;
    const png_deflate_bucket &b = z->buckets[hash];
    const std::int32_t here = static_cast<std::int32_t>(i) + z->shift;
    // Where a position in reach is in the window.
    const auto data_of = [&](std::int32_t p) { return w + (p - z->shift); };
    const candidates c = bucket_kernels::compare_bucket(b, z->counts[hash], here - farthest, first_four(w + i));
    if (limit < 8) [[unlikely]] {
        std::uint64_t rank = std::uint64_t{2} << 32;
        for (unsigned reach = c.reach; reach != 0; reach &= reach - 1) {
            const std::int32_t p = b.position[__builtin_ctz(reach)];
            std::size_t n = 0;
            while (n < limit && data_of(p)[n] == w[i + n])
                ++n;
            rank = std::max(rank, std::uint64_t{n} << 32 | static_cast<std::uint32_t>(p));
        }
        return {hash, static_cast<std::size_t>(rank >> 32), static_cast<std::int32_t>(rank)};
    }
    if (c.four == 0) {
        if (c.three == 0)
            return {hash, 0, -1};
        return {hash, 3, b.position[newest(c.three)]};
    }
    std::uint64_t rank = 0;
    for (unsigned four = c.four; four != 0; four ^= 1u << newest(four)) {
        const std::int32_t p = b.position[newest(four)];
        const std::uint64_t n = 4 + match_length(data_of(p) + 4, w + i + 4, limit - 4);
        rank = std::max(rank, n << 32 | static_cast<std::uint32_t>(p));
        if (n == limit)
            break;  // newest first: nothing after it ranks higher
    }
    return {hash, static_cast<std::size_t>(rank >> 32), static_cast<std::int32_t>(rank)};
}

// A short stream's buckets as chains: chain_head[hash] is the newest
// position with that hash, chain_next[p] the one before p; the bucket is
// the first counts[hash] of the chain, newest first, and dropping the
// oldest 8 of 16 is counting 8. What a small image searches is then a few
// hundred KiB rather than 2 MiB of buckets, which would cost more to fault
// in and to miss in the cache than the whole compression. The stream fits
// the window, which never slides, so positions are window offsets. The
// same match as find_match: the longest of 3 or more, of equal ones the
// newest.
[[gnu::always_inline]] inline match find_chained(const png_deflate *z, std::size_t i, std::uint32_t hash,
                                                  std::size_t limit)
{
    const unsigned char *const w = z->window;
    std::size_t longest_so_far = 2;
    std::int32_t from = -1;
    std::int32_t p = z->chain_head[hash];
    for (unsigned left = z->counts[hash]; left > 0; --left, p = z->chain_next[p]) {
        if (static_cast<std::int32_t>(i) - p > farthest)
            break;  // the rest are older still
        const std::size_t n = match_length(w + p, w + i, limit);
        if (n > longest_so_far) {
            longest_so_far = n;
            from = p;
            if (n == limit)
                break;
        }
    }
    return {hash, from < 0 ? 0 : longest_so_far, from};
}

// The match at i, from the buckets or the chains.
template <bool chained, class bucket_kernels>
[[gnu::always_inline]] inline match find_in(const png_deflate *z, std::size_t i, std::uint32_t hash,
                                           std::size_t limit)
{
    if constexpr (chained)
        return find_chained(z, i, hash, limit);
    else
        return find_match<bucket_kernels>(z, i, hash, limit);
}

// Encodes the positions from z->encoded_to up to `stop` (a window offset;
// the data they look at is in the window), with the buckets or, `chained`,
// the chains, searched and hashed with `bucket_kernels`.
template <bool chained, class bucket_kernels>
void encode(png_deflate *z, std::size_t stop)
{
    const unsigned char *const w = z->window;
    const std::uint64_t length = z->length;
    std::size_t i = z->encoded_to;
    if (i >= stop)
        return;
    // The longest match a position may have: 258, less near the end.
    const auto limit_for = [&](std::size_t pos) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(longest, length - (z->base + pos)));
    };
    // The hashes of the positions ahead, a block at a time: computed apart
    // from the searches, they are not on the path from one search to the
    // next, and the buckets ahead can be fetched early.
    std::uint16_t *const hashes = z->hashes;
    std::size_t hashed_from = i, hashed_to = i;
    // Asked for positions up to stop, at most a match and one on from i.
    const auto hash_of = [&](std::size_t pos) -> std::uint32_t {
        if (pos >= hashed_to) [[unlikely]] {
            hashed_from = i;
            hashed_to = std::min(i + hash_block, stop + 1);
            bucket_kernels::hash_positions(w, hashed_from, hashed_to, hashes);
        }
        return hashes[pos - hashed_from];
    };
    const auto fetch_bucket = [&](std::size_t pos) {
        if constexpr (chained) {
            __builtin_prefetch(&z->chain_head[hash_of(pos)]);
        } else {
            const png_deflate_bucket *b = &z->buckets[hash_of(pos)];
            __builtin_prefetch(b->position);
            __builtin_prefetch(b->head);
        }
    };

    match current = find_in<chained, bucket_kernels>(z, i, hash_of(i), limit_for(i));
    for (;;) {
        const std::int32_t here = static_cast<std::int32_t>(i) + z->shift;
        unsigned count = z->counts[current.hash];
        if constexpr (chained) {
            if (count == bucket_size)
                count = bucket_size / 2;
            z->chain_next[i] = z->chain_head[current.hash];
            z->chain_head[current.hash] = here;
        } else {
            png_deflate_bucket &bucket = z->buckets[current.hash];
            if (count == bucket_size) {
                constexpr int half = bucket_size / 2;
                std::memcpy(bucket.position, bucket.position + half, sizeof bucket.position / 2);
                std::memcpy(bucket.head, bucket.head + half, sizeof bucket.head / 2);
                count = half;
            }
            bucket.position[count] = here;
            bucket.head[count] = first_four(w + i);
        }
        z->counts[current.hash] = static_cast<unsigned char>(count + 1);

        // Where the search goes after the next: one on, or past a match.
        if (i + 2 <= stop)
            fetch_bucket(i + 2);
        if (current.length >= 3 && i + current.length <= stop)
            fetch_bucket(i + current.length);

        // The next position's match, which decides whether this one is
        // used (lazy matching) and is the next one's own if it isn't. A
        // match as long as the next one's could be is used whatever that
        // finds, so then there is no search.
        const std::size_t next_limit = limit_for(i + 1);
        const bool settled = current.length >= 3 && current.length >= next_limit;
        const match next = settled ? match{} : find_in<chained, bucket_kernels>(z, i + 1, hash_of(i + 1), next_limit);
        if (settled || (current.length >= 3 && next.length <= current.length)) {
            const code len = tables.length[current.length];
            const code dist = distance_code(static_cast<unsigned>(here - current.from));
            put_bits(z, len.bits | dist.bits << len.count, len.count + dist.count);
            i += current.length;
            if (i >= stop)
                break;
            current = find_in<chained, bucket_kernels>(z, i, hash_of(i), limit_for(i));
        } else {
            const code lit = tables.literal[w[i]];
            put_bits(z, lit.bits, lit.count);
            ++i;
            if (i >= stop)
                break;
            current = next;
        }
    }
    z->encoded_to = i;
}

template <class bucket_kernels>
void encode_with(png_deflate *z, std::size_t stop)
{
    if (z->chained)
        encode<true, bucket_kernels>(z, stop);
    else
        encode<false, bucket_kernels>(z, stop);
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
        case bucket_form::sse2:
#ifdef PIXREMAP_X86_64
            encode_with<sse2_bucket_kernels>(z, stop);
#endif
            break;
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
