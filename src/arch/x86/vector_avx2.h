// vector_avx2: the operations of vector_sse2.h with AVX2, 32 bytes at a
// time, for the files compiled for AVX2 alone (remap_avx2.cpp,
// png_filter_avx2.cpp). Unpacking and packing work within each 128-bit half,
// both alike, so bytes unpacked and packed again come back in order.
#pragma once

#include <cstddef>
#include <cstdint>

#include <immintrin.h>

namespace {

struct avx2_ops {
    using vec = __m256i;
    static constexpr std::size_t size = 32;
    static vec load(const unsigned char *p) { return _mm256_loadu_si256(reinterpret_cast<const vec *>(p)); }
    static void store(unsigned char *p, vec v) { _mm256_storeu_si256(reinterpret_cast<vec *>(p), v); }
    static vec zero() { return _mm256_setzero_si256(); }
    static vec set8(int b) { return _mm256_set1_epi8(static_cast<char>(b)); }
    static vec set16(int w) { return _mm256_set1_epi16(static_cast<short>(w)); }
    static vec set32(int d) { return _mm256_set1_epi32(d); }
    static vec and_(vec a, vec b) { return _mm256_and_si256(a, b); }
    static vec andnot(vec a, vec b) { return _mm256_andnot_si256(a, b); }
    static vec or_(vec a, vec b) { return _mm256_or_si256(a, b); }
    static vec xor_(vec a, vec b) { return _mm256_xor_si256(a, b); }
    static vec add8(vec a, vec b) { return _mm256_add_epi8(a, b); }
    static vec sub8(vec a, vec b) { return _mm256_sub_epi8(a, b); }
    static vec max8(vec a, vec b) { return _mm256_max_epu8(a, b); }
    static vec min8(vec a, vec b) { return _mm256_min_epu8(a, b); }
    static vec avg8(vec a, vec b) { return _mm256_avg_epu8(a, b); }
    static vec cmpeq8(vec a, vec b) { return _mm256_cmpeq_epi8(a, b); }
    static vec slli16(vec a, int n) { return _mm256_slli_epi16(a, n); }
    static vec srli16(vec a, int n) { return _mm256_srli_epi16(a, n); }
    static vec add16(vec a, vec b) { return _mm256_add_epi16(a, b); }
    static vec sub16(vec a, vec b) { return _mm256_sub_epi16(a, b); }
    static vec abs16(vec a) { return _mm256_abs_epi16(a); }
    static vec cmpgt16(vec a, vec b) { return _mm256_cmpgt_epi16(a, b); }
    static vec mullo16(vec a, vec b) { return _mm256_mullo_epi16(a, b); }
    static vec unpacklo8(vec a, vec b) { return _mm256_unpacklo_epi8(a, b); }
    static vec unpackhi8(vec a, vec b) { return _mm256_unpackhi_epi8(a, b); }
    static vec packus16(vec a, vec b) { return _mm256_packus_epi16(a, b); }
    static vec sad(vec a) { return _mm256_sad_epu8(a, _mm256_setzero_si256()); }
    static vec add64(vec a, vec b) { return _mm256_add_epi64(a, b); }
    static std::uint64_t sum64(vec a)
    {
        const __m128i halves = _mm_add_epi64(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
        return static_cast<std::uint64_t>(_mm_cvtsi128_si64(halves)) +
               static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(halves, halves)));
    }
};

} // namespace
