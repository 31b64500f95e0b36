// remap_avx512: the blocks of remap/remap_blocks.h at 64 bytes, compiled
// with AVX-512BW for this file alone. The kernel table (arch/kernels.h)
// uses it only on processors that have AVX-512BW.
#include "arch/x86/remap_x86.h"

#include <immintrin.h>

#include "remap/remap_blocks.h"

namespace {

struct avx512_ops {
    using vec = __m512i;
    static constexpr std::size_t size = 64;
    static vec load(const unsigned char *p) { return _mm512_loadu_si512(p); }
    static void store(unsigned char *p, vec v) { _mm512_storeu_si512(p, v); }
    static vec set8(int b) { return _mm512_set1_epi8(static_cast<char>(b)); }
    static vec set16(int w) { return _mm512_set1_epi16(static_cast<short>(w)); }
    static vec set32(int d) { return _mm512_set1_epi32(d); }
    static vec and_(vec a, vec b) { return _mm512_and_si512(a, b); }
    static vec andnot(vec a, vec b) { return _mm512_andnot_si512(a, b); }
    static vec or_(vec a, vec b) { return _mm512_or_si512(a, b); }
    static vec add8(vec a, vec b) { return _mm512_add_epi8(a, b); }
    static vec sub8(vec a, vec b) { return _mm512_sub_epi8(a, b); }
    static vec max8(vec a, vec b) { return _mm512_max_epu8(a, b); }
    static vec cmpeq8(vec a, vec b) { return _mm512_movm_epi8(_mm512_cmpeq_epi8_mask(a, b)); }
    static vec slli16(vec a, int n) { return _mm512_slli_epi16(a, n); }
    static vec srli16(vec a, int n) { return _mm512_srli_epi16(a, n); }
    static vec mullo16(vec a, vec b) { return _mm512_mullo_epi16(a, b); }
};

} // namespace

std::size_t remap_blocks_avx512(unsigned char *data, std::size_t bytes, byte_map map, int channels)
{
    return remap_blocks_for<avx512_ops>(data, bytes, map, channels);
}
