// remap_avx2: the blocks of remap_blocks.h at 32 bytes, compiled with AVX2
// for this file alone. remap.cpp calls it only on processors that have AVX2.
#include "remap_simd.h"

#include <immintrin.h>

#include "remap_blocks.h"

namespace {

struct avx2_ops {
    using vec = __m256i;
    static constexpr std::size_t size = 32;
    static vec load(const unsigned char *p) { return _mm256_loadu_si256(reinterpret_cast<const vec *>(p)); }
    static void store(unsigned char *p, vec v) { _mm256_storeu_si256(reinterpret_cast<vec *>(p), v); }
    static vec set8(int b) { return _mm256_set1_epi8(static_cast<char>(b)); }
    static vec set16(int w) { return _mm256_set1_epi16(static_cast<short>(w)); }
    static vec set32(int d) { return _mm256_set1_epi32(d); }
    static vec and_(vec a, vec b) { return _mm256_and_si256(a, b); }
    static vec andnot(vec a, vec b) { return _mm256_andnot_si256(a, b); }
    static vec or_(vec a, vec b) { return _mm256_or_si256(a, b); }
    static vec add8(vec a, vec b) { return _mm256_add_epi8(a, b); }
    static vec sub8(vec a, vec b) { return _mm256_sub_epi8(a, b); }
    static vec max8(vec a, vec b) { return _mm256_max_epu8(a, b); }
    static vec cmpeq8(vec a, vec b) { return _mm256_cmpeq_epi8(a, b); }
    static vec slli16(vec a, int n) { return _mm256_slli_epi16(a, n); }
    static vec srli16(vec a, int n) { return _mm256_srli_epi16(a, n); }
    static vec mulhi16(vec a, vec b) { return _mm256_mulhi_epu16(a, b); }
    static vec mullo16(vec a, vec b) { return _mm256_mullo_epi16(a, b); }
};

} // namespace

std::size_t remap_blocks_avx2(unsigned char *data, std::size_t bytes, int map, int stride)
{
    return remap_blocks_for<avx2_ops>(data, bytes, map, stride);
}
