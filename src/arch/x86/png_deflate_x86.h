// png_deflate_x86: the match search's bucket compare of
// png/png_deflate_kernels.h with AVX2 and with AVX-512, and png_deflate's
// encode loop built with each (png_deflate_avx2.cpp, png_deflate_avx512.cpp),
// which the kernel table (arch/kernels.h) chooses only where the processor
// has the set. AVX2 compares a bucket's 16 slots 8 at a time and takes each
// mask's bits straight from the lanes; AVX-512 compares all 16 at once into
// mask registers, the filled slots and the reach applied by the compares
// themselves. Both take SSE2's hashing (png_deflate_sse2.h) as it is: the
// hashes are a small share of the work, computed apart from the searches.
//
// Each function is built for its own set, so that the tests can call it
// where the processor has it; included by those two files and the tests.
#pragma once

#include <immintrin.h>

#include <cstddef>

#include "arch/x86/png_deflate_sse2.h"
#include "png/png_deflate_kernels.h"

struct png_deflate;

// The encode loop (png/png_deflate_encode.h) with these kernels.
void png_deflate_encode_avx2(png_deflate *z, std::size_t stop);
void png_deflate_encode_avx512(png_deflate *z, std::size_t stop);

namespace {

struct avx2_bucket_kernels : sse2_bucket_kernels {
    // A lane's top bit is its slot's: eight slots from each half.
    [[gnu::always_inline, gnu::target("avx2")]] static unsigned slots(__m256i low, __m256i high)
    {
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(low))) |
               static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(high))) << 8;
    }

    [[gnu::always_inline, gnu::target("avx2")]] static candidates
    compare_bucket(const png_deflate_bucket &b, unsigned count, std::int32_t lowest, std::uint32_t head)
    {
        const __m256i floor = _mm256_set1_epi32(lowest - 1);
        const __m256i four = _mm256_set1_epi32(static_cast<int>(head));
        const __m256i low3 = _mm256_set1_epi32(0x00ffffff);
        const __m256i three = _mm256_and_si256(four, low3);
        const __m256i p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b.position));
        const __m256i p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b.position + 8));
        const __m256i h0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b.head));
        const __m256i h1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b.head + 8));
        const __m256i r0 = _mm256_cmpgt_epi32(p0, floor), r1 = _mm256_cmpgt_epi32(p1, floor);
        // The reach applied before the masks are taken, so that where the
        // reach itself isn't asked for (all but the end of the data) it
        // isn't taken.
        const unsigned filled = (1u << count) - 1;
        candidates c;
        c.reach = slots(r0, r1) & filled;
        c.three = slots(_mm256_and_si256(r0, _mm256_cmpeq_epi32(_mm256_and_si256(h0, low3), three)),
                        _mm256_and_si256(r1, _mm256_cmpeq_epi32(_mm256_and_si256(h1, low3), three))) &
                  filled;
        c.four = slots(_mm256_and_si256(r0, _mm256_cmpeq_epi32(h0, four)),
                       _mm256_and_si256(r1, _mm256_cmpeq_epi32(h1, four))) &
                 filled;
        return c;
    }
};

struct avx512_bucket_kernels : sse2_bucket_kernels {
    [[gnu::always_inline, gnu::target("avx512f")]] static candidates
    compare_bucket(const png_deflate_bucket &b, unsigned count, std::int32_t lowest, std::uint32_t head)
    {
        const __m512i positions = _mm512_loadu_si512(b.position);
        const __m512i differ = _mm512_xor_si512(_mm512_loadu_si512(b.head), _mm512_set1_epi32(static_cast<int>(head)));
        const auto filled = static_cast<__mmask16>((1u << count) - 1);
        const __mmask16 reach = _mm512_mask_cmpge_epi32_mask(filled, positions, _mm512_set1_epi32(lowest));
        // Agreeing in the first three bytes: no difference in the low 24
        // bits; in all four: none at all.
        const __mmask16 three = _mm512_mask_testn_epi32_mask(reach, differ, _mm512_set1_epi32(0x00ffffff));
        const __mmask16 four = _mm512_mask_testn_epi32_mask(three, differ, differ);
        return {reach, three, four};
    }
};

} // namespace
