// png_deflate_encode: the heart of png_deflate.cpp, the stream's state and
// its encode loop with the match search (png_deflate.cpp's header comment
// gives stb's rules they keep), as a template over the match search's
// bucket kernels (png_deflate_kernels.h). A header so that a file built
// for an instruction set the baseline lacks (arch/x86/png_deflate_avx2.cpp,
// png_deflate_avx512.cpp) builds the loop with that set's kernels inlined
// in it; only png_deflate.cpp and those files include it.
//
// encode_with<kernels>(z, stop) encodes the positions from z->encoded_to
// up to the window offset `stop`, whose data, and a match and its compare's
// read-ahead past it, must be in the window; the output goes through
// flush_out to the stream's emit.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "png/png_deflate.h"
#include "png/png_deflate_kernels.h"

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

namespace {

constexpr int bucket_count = deflate_bucket_count;
constexpr int bucket_size = deflate_bucket_size;  // 2 x stb's quality 8
static_assert(bucket_size == sizeof(png_deflate_bucket::position) / sizeof(std::int32_t));
constexpr int farthest = 32767;      // the farthest a match may reach back
constexpr std::size_t longest = 258;
constexpr std::size_t out_size = 1 << 16;
constexpr std::size_t hash_block = 4096;  // positions hashed at a time

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
inline code distance_code(unsigned d)
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
inline void flush_out(png_deflate *z)
{
    if (z->out_used == 0)
        return;
    if (!z->failed && !z->emit(z->context, z->out, z->out_used))
        z->failed = true;
    z->emitted += z->out_used;
    z->out_used = 0;
}

// The bits on their way out: the bit buffer, fewer than 8 bits between
// calls, and where its next byte goes in the output buffer. The encode
// loop keeps one in locals while it runs (see search_view), the stream's
// fields hold it in between.
struct bit_sink {
    std::uint64_t bits;
    unsigned count;
    unsigned char *at, *end;  // end: where the output buffer is full
};

inline bit_sink sink_of(const png_deflate *z)
{
    return {z->bits, z->bit_count, z->out + z->out_used, z->out + out_size};
}

inline void keep_sink(png_deflate *z, const bit_sink &s)
{
    z->bits = s.bits;
    z->bit_count = s.count;
    z->out_used = static_cast<std::size_t>(s.at - z->out);
}

// A full output buffer, up to `at`, handed on out of the loop's way
// (the bits still in the buffer stay there); where the next byte goes.
[[gnu::noinline]] inline unsigned char *flush_sink(png_deflate *z, unsigned char *at)
{
    z->out_used = static_cast<std::size_t>(at - z->out);
    flush_out(z);
    return z->out;
}

// Adds up to 31 bits: eight bytes are stored each time and the whole ones
// counted, so nothing branches on how many bits there are.
[[gnu::always_inline]] inline void put_bits(png_deflate *z, bit_sink &s, std::uint32_t bits, unsigned count)
{
    s.bits |= static_cast<std::uint64_t>(bits) << s.count;
    s.count += count;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(s.at, &s.bits, 8);
    } else {
        for (int k = 0; k < 8; ++k)
            s.at[k] = static_cast<unsigned char>(s.bits >> (8 * k));
    }
    const unsigned whole = s.count / 8;
    s.at += whole;
    s.bits >>= 8 * whole;
    s.count -= 8 * whole;
    if (s.at >= s.end) [[unlikely]]
        s.at = flush_sink(z, s.at);
}

// How many bytes from a and b agree, at most limit; reads up to 7 bytes
// past the limit.
inline std::size_t match_length(const unsigned char *a, const unsigned char *b, std::size_t limit)
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

// What the match search and the encode loop read of the stream's state,
// copied into locals for the length of an encode call. The loop's stores
// (the output's bytes, the buckets' counts) go through byte pointers, which
// may alias anything: with the stream's own fields, every one would be
// loaded again after each store.
struct search_view {
    const unsigned char *window;
    png_deflate_bucket *buckets;
    unsigned char *counts;
    std::int32_t *chain_head, *chain_next;
    std::int32_t shift;
};

// The longest match for the position at offset i, as stb finds it: of the
// positions in its bucket no more than 32767 back, the one whose bytes
// agree with i's for longest, at most `limit`, 3 or more; of equal ones the
// newest. Its length is 2 or less when there is none.
struct match {
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
[[gnu::always_inline]] inline match find_match(const search_view &v, std::size_t i, std::uint32_t hash,
                                                std::size_t limit)
{
    const unsigned char *const w = v.window;
    const png_deflate_bucket &b = v.buckets[hash];
    const std::int32_t here = static_cast<std::int32_t>(i) + v.shift;
    // Where a position in reach is in the window.
    const auto data_of = [&](std::int32_t p) { return w + (p - v.shift); };
    const candidates c = bucket_kernels::compare_bucket(b, v.counts[hash], here - farthest, first_four(w + i));
    if (limit < 8) [[unlikely]] {
        std::uint64_t rank = std::uint64_t{2} << 32;
        for (unsigned reach = c.reach; reach != 0; reach &= reach - 1) {
            const std::int32_t p = b.position[__builtin_ctz(reach)];
            std::size_t n = 0;
            while (n < limit && data_of(p)[n] == w[i + n])
                ++n;
            rank = std::max(rank, std::uint64_t{n} << 32 | static_cast<std::uint32_t>(p));
        }
        return {static_cast<std::size_t>(rank >> 32), static_cast<std::int32_t>(rank)};
    }
    if (c.four == 0) {
        if (c.three == 0)
            return {0, -1};
        return {3, b.position[newest(c.three)]};
    }
    std::uint64_t rank = 0;
    for (unsigned four = c.four; four != 0; four ^= 1u << newest(four)) {
        const std::int32_t p = b.position[newest(four)];
        const std::uint64_t n = 4 + match_length(data_of(p) + 4, w + i + 4, limit - 4);
        rank = std::max(rank, n << 32 | static_cast<std::uint32_t>(p));
        if (n == limit)
            break;  // newest first: nothing after it ranks higher
    }
    return {static_cast<std::size_t>(rank >> 32), static_cast<std::int32_t>(rank)};
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
[[gnu::always_inline]] inline match find_chained(const search_view &v, std::size_t i, std::uint32_t hash,
                                                  std::size_t limit)
{
    const unsigned char *const w = v.window;
    std::size_t longest_so_far = 2;
    std::int32_t from = -1;
    std::int32_t p = v.chain_head[hash];
    for (unsigned left = v.counts[hash]; left > 0; --left, p = v.chain_next[p]) {
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
    return {from < 0 ? 0 : longest_so_far, from};
}

// The match at i, from the buckets or the chains.
template <bool chained, class bucket_kernels>
[[gnu::always_inline]] inline match find_in(const search_view &v, std::size_t i, std::uint32_t hash,
                                           std::size_t limit)
{
    if constexpr (chained)
        return find_chained(v, i, hash, limit);
    else
        return find_match<bucket_kernels>(v, i, hash, limit);
}

// Encodes the positions from z->encoded_to up to `stop` (a window offset;
// the data they look at is in the window), with the buckets or, `chained`,
// the chains, searched and hashed with `bucket_kernels`. Every position
// before `stop` may have a match of 258 unless `near_end`, where what is
// left of the data may cut it short: the loop is built once for each, so
// that the long part doesn't work out a limit at every search.
template <bool chained, class bucket_kernels, bool near_end>
void encode_part(png_deflate *z, std::size_t stop)
{
    std::size_t i = z->encoded_to;
    if (i >= stop)
        return;
    const search_view v = {z->window, z->buckets, z->counts, z->chain_head, z->chain_next, z->shift};
    const unsigned char *const w = v.window;
    bit_sink out = sink_of(z);
    // The longest match a position may have: 258, less near the end.
    const std::uint64_t data_left = z->length - z->base;  // from the window's start
    const auto limit_for = [&](std::size_t pos) {
        if constexpr (near_end)
            return static_cast<std::size_t>(std::min<std::uint64_t>(longest, data_left - pos));
        else
            return longest;
    };
    // The hashes of the positions ahead, a block at a time: computed apart
    // from the searches, they are not on the path from one search to the
    // next, and the buckets ahead can be fetched early. Each round of the
    // loop asks for positions from i to a match and one on from it (past
    // stop only to fetch their buckets): the block is renewed from i when
    // it ends short of that.
    std::uint16_t *const hashes = z->hashes;
    const std::uint16_t *hash_at = hashes - i;  // hash_at[pos]: pos's hash
    // A match may run to the data's end, and the position there is fetched
    // (its bytes are the window's read-ahead).
    const std::size_t hash_end = z->end + 1;
    std::size_t renew_from = i;  // the first i whose positions aren't all hashed
    const auto hash_ahead = [&] {
        if (i >= renew_from) [[unlikely]] {
            const std::size_t hashed_to = std::min(i + hash_block, hash_end);
            bucket_kernels::hash_positions(w, i, hashed_to, hashes);
            hash_at = hashes - i;
            renew_from = hashed_to == hash_end ? hash_end : hashed_to - (longest + 1);
        }
    };
    const auto fetch_bucket = [&](std::size_t pos) {
        if constexpr (chained) {
            __builtin_prefetch(&v.chain_head[hash_at[pos]]);
        } else {
            const png_deflate_bucket *b = &v.buckets[hash_at[pos]];
            __builtin_prefetch(b->position);
            __builtin_prefetch(b->head);
        }
    };

    hash_ahead();
    match current = find_in<chained, bucket_kernels>(v, i, hash_at[i], limit_for(i));
    for (;;) {
        hash_ahead();
        const std::int32_t here = static_cast<std::int32_t>(i) + v.shift;
        const std::uint32_t hash = hash_at[i];
        unsigned count = v.counts[hash];
        if constexpr (chained) {
            if (count == bucket_size)
                count = bucket_size / 2;
            v.chain_next[i] = v.chain_head[hash];
            v.chain_head[hash] = here;
        } else {
            png_deflate_bucket &bucket = v.buckets[hash];
            if (count == bucket_size) {
                constexpr int half = bucket_size / 2;
                std::memcpy(bucket.position, bucket.position + half, sizeof bucket.position / 2);
                std::memcpy(bucket.head, bucket.head + half, sizeof bucket.head / 2);
                count = half;
            }
            bucket.position[count] = here;
            bucket.head[count] = first_four(w + i);
        }
        v.counts[hash] = static_cast<unsigned char>(count + 1);

        // Where the search goes after the next: one on, or past a match.
        fetch_bucket(i + 2);
        if (current.length >= 3)
            fetch_bucket(i + current.length);

        // The next position's match, which decides whether this one is
        // used (lazy matching) and is the next one's own if it isn't. A
        // match as long as the next one's could be is used whatever that
        // finds, so then there is no search.
        const std::size_t next_limit = limit_for(i + 1);
        const bool settled = current.length >= 3 && current.length >= next_limit;
        const match next =
            settled ? match{} : find_in<chained, bucket_kernels>(v, i + 1, hash_at[i + 1], next_limit);
        if (settled || (current.length >= 3 && next.length <= current.length)) {
            const code len = tables.length[current.length];
            const code dist = distance_code(static_cast<unsigned>(here - current.from));
            put_bits(z, out, len.bits | dist.bits << len.count, len.count + dist.count);
            i += current.length;
            if (i >= stop)
                break;
            current = find_in<chained, bucket_kernels>(v, i, hash_at[i], limit_for(i));
        } else {
            const code lit = tables.literal[w[i]];
            put_bits(z, out, lit.bits, lit.count);
            ++i;
            if (i >= stop)
                break;
            current = next;
        }
    }
    keep_sink(z, out);
    z->encoded_to = i;
}

// The positions up to `stop`: those whose matches, and the next one's, may
// be 258 long, then the rest.
template <bool chained, class bucket_kernels>
void encode(png_deflate *z, std::size_t stop)
{
    const std::uint64_t data_left = z->length - z->base;
    const std::size_t long_to =
        data_left > longest + 1 ? static_cast<std::size_t>(std::min<std::uint64_t>(stop, data_left - longest - 1)) : 0;
    encode_part<chained, bucket_kernels, false>(z, long_to);
    encode_part<chained, bucket_kernels, true>(z, stop);
}

template <class bucket_kernels>
void encode_with(png_deflate *z, std::size_t stop)
{
    if (z->chained)
        encode<true, bucket_kernels>(z, stop);
    else
        encode<false, bucket_kernels>(z, stop);
}

} // namespace
