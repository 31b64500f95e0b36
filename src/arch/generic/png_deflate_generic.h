// png_deflate_generic: the match search's kernels of png/png_deflate_kernels.h
// with GCC's vector extensions (kernels_generic.h says where they are used):
// a bucket's 16 positions and first bytes compared 4 at a time, the masks
// gathered into slot order by weighting each lane with its slot's bit, and
// positions hashed 4 at a time. Lane values only, never their bytes, so
// they hold in either byte order. Included by png_deflate.cpp and by the
// tests, which hold it to the portable form.
#pragma once

#include "png/png_deflate_kernels.h"

namespace {

struct generic_bucket_kernels {
    typedef std::uint32_t u32x4 __attribute__((vector_size(16)));
    typedef std::int32_t i32x4 __attribute__((vector_size(16)));

    // All four lanes of v ORed together. (By reference: a vector passed
    // by value has no set ABI on targets without vector registers.)
    [[gnu::always_inline]] static std::uint32_t lanes_or(const u32x4 &lanes)
    {
        u32x4 v = lanes;
        v |= __builtin_shufflevector(v, v, 2, 3, 0, 1);
        v |= __builtin_shufflevector(v, v, 1, 0, 3, 2);
        return v[0];
    }

    // Each lane of a compare's result weighted with its slot's bit (lane l
    // of group k is slot 4k + l), the reach applied before the bits are
    // gathered, and the three and four masks gathered together, in the low
    // and high halves of one word: where the reach itself isn't asked for
    // (all but the end of the data) it isn't gathered.
    [[gnu::always_inline]] static candidates compare_bucket(const png_deflate_bucket &b, unsigned count,
                                                            std::int32_t lowest, std::uint32_t head)
    {
        const u32x4 weight = {1, 2, 4, 8};
        u32x4 reach = {0, 0, 0, 0}, three_four = {0, 0, 0, 0};
        for (int k = 0; k < 4; ++k) {
            i32x4 p;
            u32x4 h;
            std::memcpy(&p, b.position + 4 * k, sizeof p);
            std::memcpy(&h, b.head + 4 * k, sizeof h);
            const u32x4 r = reinterpret_cast<u32x4>(p > lowest - 1);
            const u32x4 three = reinterpret_cast<u32x4>((h & 0x00ffffffu) == (head & 0x00ffffffu)) & r;
            const u32x4 four = reinterpret_cast<u32x4>(h == head) & r;
            reach |= r & (weight << (4 * k));
            three_four |= (three & (weight << (4 * k))) | (four & (weight << (4 * k + 16)));
        }
        const unsigned filled = (1u << count) - 1;
        const std::uint32_t gathered = lanes_or(three_four);
        return {lanes_or(reach) & filled, gathered & filled, gathered >> 16 & filled};
    }

    static void hash_positions(const unsigned char *w, std::size_t from, std::size_t to,
                               std::uint16_t *hashes)
    {
        // Four at a time: stb_hash on 32-bit lanes.
        std::size_t k = from;
        for (; k + 4 <= to; k += 4) {
            u32x4 h;
            for (int j = 0; j < 4; ++j)
                h[j] = w[k + j] + (w[k + j + 1] << 8) + (w[k + j + 2] << 16);
            stb_hash_steps(h);
            for (int j = 0; j < 4; ++j)
                hashes[k - from + j] = static_cast<std::uint16_t>(h[j]);
        }
        portable_bucket_kernels::hash_positions(w, k, to, hashes + (k - from));
    }
};

} // namespace
