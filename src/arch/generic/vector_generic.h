// vector_generic: the vector operations the kernels are written in (the
// passes' remap_blocks.h, the PNG filters' png_filter_blocks.h), 16 bytes at
// a time, with GCC's vector extensions rather than one instruction set's
// intrinsics: GCC compiles them to NEON on arm64, VSX on ppc64el and SSE2
// on x86-64, and to plain code where the target has no vector registers.
// The same struct of operations as arch/x86/vector_sse2.h, with the same
// meaning lane by lane.
//
// The lanes are little-endian: a 16-bit lane's low byte is the first in
// memory, as the kernels' masks (set16, set32) and widening (unpacklo8)
// take it. On a big-endian machine the kernels built on this struct are
// not used (arch/kernels.cpp).
//
// Internal linkage, like the kernels built from it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

struct generic_ops {
    typedef std::uint8_t u8x16 __attribute__((vector_size(16)));
    typedef std::uint16_t u16x8 __attribute__((vector_size(16)));
    typedef std::int16_t i16x8 __attribute__((vector_size(16)));
    typedef std::uint32_t u32x4 __attribute__((vector_size(16)));
    typedef std::uint64_t u64x2 __attribute__((vector_size(16)));

    using vec = u8x16;
    static constexpr std::size_t size = 16;

    static vec load(const unsigned char *p)
    {
        vec v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static void store(unsigned char *p, vec v) { std::memcpy(p, &v, sizeof v); }
    static vec zero() { return vec{}; }
    static vec set8(int b) { return vec{} + static_cast<std::uint8_t>(b); }
    static vec set16(int w) { return reinterpret_cast<vec>(u16x8{} + static_cast<std::uint16_t>(w)); }
    static vec set32(int d) { return reinterpret_cast<vec>(u32x4{} + static_cast<std::uint32_t>(d)); }
    static vec and_(vec a, vec b) { return a & b; }
    static vec andnot(vec a, vec b) { return ~a & b; }
    static vec or_(vec a, vec b) { return a | b; }
    static vec xor_(vec a, vec b) { return a ^ b; }
    static vec add8(vec a, vec b) { return a + b; }
    static vec sub8(vec a, vec b) { return a - b; }
    static vec max8(vec a, vec b) { return a > b ? a : b; }
    static vec min8(vec a, vec b) { return a < b ? a : b; }
    // (a + b + 1) >> 1 without carrying past 8 bits.
    static vec avg8(vec a, vec b) { return (a | b) - ((a ^ b) >> 1); }
    static vec cmpeq8(vec a, vec b) { return reinterpret_cast<vec>(a == b); }
    static vec slli16(vec a, int n) { return reinterpret_cast<vec>(u16(a) << n); }
    static vec srli16(vec a, int n) { return reinterpret_cast<vec>(u16(a) >> n); }
    static vec add16(vec a, vec b) { return reinterpret_cast<vec>(u16(a) + u16(b)); }
    static vec sub16(vec a, vec b) { return reinterpret_cast<vec>(u16(a) - u16(b)); }
    static vec abs16(vec a)
    {
        const i16x8 s = reinterpret_cast<i16x8>(a);
        return reinterpret_cast<vec>(s < 0 ? -s : s);
    }
    static vec cmpgt16(vec a, vec b)
    {
        return reinterpret_cast<vec>(reinterpret_cast<i16x8>(a) > reinterpret_cast<i16x8>(b));
    }
    // The low halves of the 32-bit products of 16-bit lanes.
    static vec mullo16(vec a, vec b) { return reinterpret_cast<vec>(u16(a) * u16(b)); }
    // The first (last) eight bytes of a and b, interleaved.
    static vec unpacklo8(vec a, vec b)
    {
        return __builtin_shufflevector(a, b, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    }
    static vec unpackhi8(vec a, vec b)
    {
        return __builtin_shufflevector(a, b, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    }
    // Signed 16-bit lanes of a, then b, saturated to unsigned bytes: each
    // lane clamped, then its low byte taken (the first of its two in
    // memory on a little-endian machine, the second on a big-endian one).
    static vec packus16(vec a, vec b)
    {
        const auto clamp = [](vec v) {
            i16x8 s = reinterpret_cast<i16x8>(v);
            s = s < 0 ? i16x8{} : s;
            s = s > 255 ? i16x8{} + 255 : s;
            return reinterpret_cast<vec>(s);
        };
        if constexpr (std::endian::native == std::endian::little)
            return __builtin_shufflevector(clamp(a), clamp(b), 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
        else
            return __builtin_shufflevector(clamp(a), clamp(b), 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    }
    // The sums of the bytes of each 8, in 64-bit lanes: pairs, then fours,
    // then eights added within each lane.
    static vec sad(vec a)
    {
        u64x2 x = reinterpret_cast<u64x2>(a);
        x = (x & 0x00ff00ff00ff00ffull) + ((x >> 8) & 0x00ff00ff00ff00ffull);
        x = (x & 0x0000ffff0000ffffull) + ((x >> 16) & 0x0000ffff0000ffffull);
        x = (x & 0x00000000ffffffffull) + (x >> 32);
        return reinterpret_cast<vec>(x);
    }
    static vec add64(vec a, vec b) { return reinterpret_cast<vec>(reinterpret_cast<u64x2>(a) + reinterpret_cast<u64x2>(b)); }
    static std::uint64_t sum64(vec a)
    {
        const u64x2 x = reinterpret_cast<u64x2>(a);
        return x[0] + x[1];
    }

    // The same bytes as 16-bit lanes.
    static u16x8 u16(vec a) { return reinterpret_cast<u16x8>(a); }
};

} // namespace
