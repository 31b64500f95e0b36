// png_deflate_kernels: the two small kernels at the heart of png_deflate's
// match search, in their portable form. An instruction set may give them a
// vector form of its own (arch/x86/png_deflate_sse2.h), a struct with the
// same two functions; png_deflate.cpp takes one of them, and the tests hold
// the vector forms to these.
//
// compare_bucket(b, count, lowest, head): three masks over the `count`
// filled slots of bucket b, bit j for slot j (the highest set bit is the
// newest position): `reach`, those at or after position `lowest`; of them
// `three` and `four`, those whose first 3 and first 4 bytes (as first_four
// reads them) are those of `head`.
//
// hash_positions(w, from, to, hashes): stb_image_write's hash of the 3
// bytes at each position from `from` to `to` of w, into hashes[0 ...]; it
// may read up to 8 bytes past `to`.
//
// Internal linkage, like the kernels built from it, so that a form
// compiled for one instruction set never stands in for another.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// One of stb's hash buckets: up to 16 positions, oldest first, and the
// first four bytes of the data at each.
struct png_deflate_bucket {
    std::int32_t position[16];
    std::uint32_t head[16];
};

namespace {

constexpr int deflate_bucket_count = 16384;
constexpr unsigned deflate_bucket_size = 16;

// stb_image_write's hash steps, on a 32-bit value or on each 32-bit lane
// of a vector, in place, and their bucket. (In place: a vector returned by
// value would have no set ABI on targets without vector registers.)
template <class T>
[[gnu::always_inline]] inline void stb_hash_steps(T &hash)
{
    hash ^= hash << 3;
    hash += hash >> 5;
    hash ^= hash << 4;
    hash += hash >> 17;
    hash ^= hash << 25;
    hash += hash >> 6;
    hash &= deflate_bucket_count - 1;
}

// stb_image_write's hash of the 3 bytes at p, into its 16384 buckets.
[[gnu::always_inline]] inline std::uint32_t stb_hash(const unsigned char *p)
{
    std::uint32_t hash = p[0] + (p[1] << 8) + (p[2] << 16);
    stb_hash_steps(hash);
    return hash;
}

// The first four bytes at p as one value, the first byte lowest, whatever
// the machine's byte order: the form the buckets keep them in.
[[gnu::always_inline]] inline std::uint32_t first_four(const unsigned char *p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap32(v);
    return v;
}

struct candidates {
    unsigned reach, three, four;
};

// The masks as compared over all 16 slots, cut to the `count` filled ones
// and, for three and four, to those in reach.
[[gnu::always_inline]] inline candidates in_filled_reach(candidates c, unsigned count)
{
    const unsigned filled = (1u << count) - 1;
    c.reach &= filled;
    c.three &= c.reach;
    c.four &= c.reach;
    return c;
}

struct portable_bucket_kernels {
    [[gnu::always_inline]] static candidates compare_bucket(const png_deflate_bucket &b, unsigned count,
                                                            std::int32_t lowest, std::uint32_t head)
    {
        candidates c = {0, 0, 0};
        for (unsigned j = 0; j < deflate_bucket_size; ++j) {
            const unsigned bit = 1u << j;
            c.reach |= b.position[j] >= lowest ? bit : 0;
            c.three |= ((b.head[j] ^ head) & 0x00ffffff) == 0 ? bit : 0;
            c.four |= b.head[j] == head ? bit : 0;
        }
        return in_filled_reach(c, count);
    }

    static void hash_positions(const unsigned char *w, std::size_t from, std::size_t to,
                               std::uint16_t *hashes)
    {
        for (std::size_t k = from; k < to; ++k)
            hashes[k - from] = static_cast<std::uint16_t>(stb_hash(w + k));
    }
};

} // namespace
