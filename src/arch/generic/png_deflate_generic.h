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

    // Bit j of the result for slot j: lane l of m[k] is slot 4k + l.
    [[gnu::always_inline]] static unsigned slot_bits(const i32x4 (&m)[4])
    {
        const u32x4 weight = {1, 2, 4, 8};
        const u32x4 v = (reinterpret_cast<const u32x4 &>(m[0]) & weight) |
                        (reinterpret_cast<const u32x4 &>(m[1]) & (weight << 4)) |
                        (reinterpret_cast<const u32x4 &>(m[2]) & (weight << 8)) |
                        (reinterpret_cast<const u32x4 &>(m[3]) & (weight << 12));
        return v[0] | v[1] | v[2] | v[3];
    }

    [[gnu::always_inline]] static candidates compare_bucket(const png_deflate_bucket &b, unsigned count,
                                                            std::int32_t lowest, std::uint32_t head)
    {
        i32x4 reach[4], three[4], four[4];
        for (int k = 0; k < 4; ++k) {
            i32x4 p;
            u32x4 h;
            std::memcpy(&p, b.position + 4 * k, sizeof p);
            std::memcpy(&h, b.head + 4 * k, sizeof h);
            reach[k] = p >= lowest;
            three[k] = (h & 0x00ffffffu) == (head & 0x00ffffffu);
            four[k] = h == head;
        }
        return in_filled_reach({slot_bits(reach), slot_bits(three), slot_bits(four)}, count);
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
