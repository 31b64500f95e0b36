// vector_sse2: the SSE2 operations the vector kernels are written in (the
// passes' remap_blocks.h and the PNG filters' png_filter_blocks.h), as one
// struct the kernels take as a template argument, 16 bytes at a time. Only
// files compiled for x86-64 include it; it has internal linkage, like the
// kernels built from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <emmintrin.h>

namespace {

struct sse2_ops {
    using vec = __m128i;
    static constexpr std::size_t size = 16;
    static vec load(const unsigned char *p) { return _mm_loadu_si128(reinterpret_cast<const vec *>(p)); }
    static void store(unsigned char *p, vec v) { _mm_storeu_si128(reinterpret_cast<vec *>(p), v); }
    static vec zero() { return _mm_setzero_si128(); }
    static vec set8(int b) { return _mm_set1_epi8(static_cast<char>(b)); }
    static vec set16(int w) { return _mm_set1_epi16(static_cast<short>(w)); }
    static vec set32(int d) { return _mm_set1_epi32(d); }
    static vec and_(vec a, vec b) { return _mm_and_si128(a, b); }
    static vec andnot(vec a, vec b) { return _mm_andnot_si128(a, b); }
    static vec or_(vec a, vec b) { return _mm_or_si128(a, b); }
    static vec xor_(vec a, vec b) { return _mm_xor_si128(a, b); }
    static vec add8(vec a, vec b) { return _mm_add_epi8(a, b); }
    static vec sub8(vec a, vec b) { return _mm_sub_epi8(a, b); }
    static vec max8(vec a, vec b) { return _mm_max_epu8(a, b); }
    static vec min8(vec a, vec b) { return _mm_min_epu8(a, b); }
    static vec avg8(vec a, vec b) { return _mm_avg_epu8(a, b); }
    static vec cmpeq8(vec a, vec b) { return _mm_cmpeq_epi8(a, b); }
    static vec slli16(vec a, int n) { return _mm_slli_epi16(a, n); }
    static vec srli16(vec a, int n) { return _mm_srli_epi16(a, n); }
    static vec add16(vec a, vec b) { return _mm_add_epi16(a, b); }
    static vec sub16(vec a, vec b) { return _mm_sub_epi16(a, b); }
    static vec abs16(vec a) { return _mm_max_epi16(a, _mm_sub_epi16(_mm_setzero_si128(), a)); }
    static vec cmpgt16(vec a, vec b) { return _mm_cmpgt_epi16(a, b); }
    static vec mullo16(vec a, vec b) { return _mm_mullo_epi16(a, b); }
    static vec unpacklo8(vec a, vec b) { return _mm_unpacklo_epi8(a, b); }
    static vec unpackhi8(vec a, vec b) { return _mm_unpackhi_epi8(a, b); }
    static vec packus16(vec a, vec b) { return _mm_packus_epi16(a, b); }
    // Sums of the bytes of each 8, in 64-bit lanes.
    static vec sad(vec a) { return _mm_sad_epu8(a, _mm_setzero_si128()); }
    static vec add64(vec a, vec b) { return _mm_add_epi64(a, b); }
    static std::uint64_t sum64(vec a)
    {
        return static_cast<std::uint64_t>(_mm_cvtsi128_si64(a)) +
               static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(a, a)));
    }
};

} // namespace
