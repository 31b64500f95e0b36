// png_deflate_sse2: the match search's kernels of png_deflate_kernels.h
// with SSE2, which every x86-64 processor has: a bucket's 16 positions and
// first bytes compared 4 at a time, and positions hashed 4 at a time.
// Included by png_deflate.cpp on x86-64, by png_deflate_x86.h, whose forms
// hash as this one does, and by the tests, which hold it to the portable
// form.
#pragma once

#include <emmintrin.h>

#include "png/png_deflate_kernels.h"

namespace {

struct sse2_bucket_kernels {
    [[gnu::always_inline]] static candidates compare_bucket(const png_deflate_bucket &b, unsigned count,
                                                            std::int32_t lowest, std::uint32_t head)
    {
        const __m128i floor = _mm_set1_epi32(lowest - 1);
        const __m128i four = _mm_set1_epi32(static_cast<int>(head));
        const __m128i low3 = _mm_set1_epi32(0x00ffffff);
        const __m128i three = _mm_and_si128(four, low3);
        // Four compares of 4 lanes (all ones or zeros) narrowed to 16
        // bytes, slot order kept, and their top bits taken in one step.
        const auto mask = [](auto compare) {
            const __m128i low = _mm_packs_epi32(compare(0), compare(1));
            const __m128i high = _mm_packs_epi32(compare(2), compare(3));
            return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
        };
        const auto positions = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(b.position + 4 * k)); };
        const auto heads = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(b.head + 4 * k)); };
        candidates c;
        c.reach = mask([&](int k) { return _mm_cmpgt_epi32(positions(k), floor); });
        c.three = mask([&](int k) { return _mm_cmpeq_epi32(_mm_and_si128(heads(k), low3), three); });
        c.four = mask([&](int k) { return _mm_cmpeq_epi32(heads(k), four); });
        return in_filled_reach(c, count);
    }

    static void hash_positions(const unsigned char *w, std::size_t from, std::size_t to,
                               std::uint16_t *hashes)
    {
        // Four at a time: stb_hash on 32-bit lanes.
        std::size_t k = from;
        const __m128i zero = _mm_setzero_si128();
        for (; k + 4 <= to; k += 4) {
            const __m128i octets =
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(w + k)), zero);
            const __m128i b0 = _mm_unpacklo_epi16(octets, zero);
            const __m128i b1 = _mm_unpacklo_epi16(_mm_srli_si128(octets, 2), zero);
            const __m128i b2 = _mm_unpacklo_epi16(_mm_srli_si128(octets, 4), zero);
            __m128i h = _mm_add_epi32(_mm_add_epi32(b0, _mm_slli_epi32(b1, 8)), _mm_slli_epi32(b2, 16));
            h = _mm_xor_si128(h, _mm_slli_epi32(h, 3));
            h = _mm_add_epi32(h, _mm_srli_epi32(h, 5));
            h = _mm_xor_si128(h, _mm_slli_epi32(h, 4));
            h = _mm_add_epi32(h, _mm_srli_epi32(h, 17));
            h = _mm_xor_si128(h, _mm_slli_epi32(h, 25));
            h = _mm_add_epi32(h, _mm_srli_epi32(h, 6));
            h = _mm_and_si128(h, _mm_set1_epi32(deflate_bucket_count - 1));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(hashes + (k - from)), _mm_packs_epi32(h, h));
        }
        portable_bucket_kernels::hash_positions(w, k, to, hashes + (k - from));
    }
};

} // namespace
