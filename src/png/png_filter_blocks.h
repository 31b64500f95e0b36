// png_filter_blocks: the row filters of png_filter.h on whole blocks of
// bytes with vector instructions, written once for any vector width over a
// struct of vector operations (arch/x86/vector_sse2.h, for one). Only the
// files of one instruction set each include it (arch/x86/png_filter_sse2.cpp,
// 16 bytes, png_filter_avx2.cpp, 32), each compiled for its own set;
// everything here has internal linkage, so a build for a wider set can
// never stand in for a narrower one.
//
// Both kernels start at byte `start` of the row, which must be at least one
// pixel (`channels` bytes) in, so that the bytes to the left can be loaded
// as a block; they do the whole blocks that fit before `end` and return
// where they stopped. The caller does the bytes before and after.
#pragma once

#include <cstddef>
#include <cstdint>

namespace {

// floor((a + b) / 2): the instruction set's average rounds up.
template <class O>
typename O::vec floor_average(typename O::vec a, typename O::vec b)
{
    return O::sub8(O::avg8(a, b), O::and_(O::xor_(a, b), O::set8(1)));
}

// The Paeth predictor of eight 16-bit lanes: a, b or c, whichever is
// nearest to a + b - c, ties to a, then b.
template <class O>
typename O::vec paeth16(typename O::vec a, typename O::vec b, typename O::vec c)
{
    const auto bc = O::sub16(b, c), ac = O::sub16(a, c);
    const auto pa = O::abs16(bc), pb = O::abs16(ac), pc = O::abs16(O::add16(bc, ac));
    const auto not_a = O::or_(O::cmpgt16(pa, pb), O::cmpgt16(pa, pc));
    const auto not_b = O::cmpgt16(pb, pc);
    const auto b_or_c = O::or_(O::and_(not_b, c), O::andnot(not_b, b));
    return O::or_(O::and_(not_a, b_or_c), O::andnot(not_a, a));
}

template <class O>
typename O::vec paeth(typename O::vec a, typename O::vec b, typename O::vec c)
{
    const auto z = O::zero();
    const auto low = paeth16<O>(O::unpacklo8(a, z), O::unpacklo8(b, z), O::unpacklo8(c, z));
    const auto high = paeth16<O>(O::unpackhi8(a, z), O::unpackhi8(b, z), O::unpackhi8(c, z));
    return O::packus16(low, high);
}

// The filtered block under filter F (0-4); b and c are zero for the first
// row.
template <class O, int F>
typename O::vec filtered(typename O::vec x, typename O::vec a, typename O::vec b, typename O::vec c)
{
    if constexpr (F == 0)
        return x;
    else if constexpr (F == 1)
        return O::sub8(x, a);
    else if constexpr (F == 2)
        return O::sub8(x, b);
    else if constexpr (F == 3)
        return O::sub8(x, floor_average<O>(a, b));
    else
        return O::sub8(x, paeth<O>(a, b, c));
}

// |byte| with the byte taken as signed, summed in 64-bit lanes.
template <class O>
typename O::vec cost_of(typename O::vec f)
{
    return O::sad(O::min8(f, O::sub8(O::zero(), f)));
}

template <class O, bool has_above>
std::size_t filter_costs_blocks(const unsigned char *row, const unsigned char *above,
                                std::size_t start, std::size_t end, int channels,
                                std::uint64_t costs[5])
{
    auto sum0 = O::zero(), sum1 = O::zero(), sum2 = O::zero(), sum3 = O::zero(), sum4 = O::zero();
    std::size_t k = start;
    for (; k + O::size <= end; k += O::size) {
        const auto x = O::load(row + k), a = O::load(row + k - channels);
        sum0 = O::add64(sum0, cost_of<O>(x));
        sum1 = O::add64(sum1, cost_of<O>(O::sub8(x, a)));
        if constexpr (has_above) {
            const auto b = O::load(above + k), c = O::load(above + k - channels);
            sum2 = O::add64(sum2, cost_of<O>(filtered<O, 2>(x, a, b, c)));
            sum3 = O::add64(sum3, cost_of<O>(filtered<O, 3>(x, a, b, c)));
            sum4 = O::add64(sum4, cost_of<O>(filtered<O, 4>(x, a, b, c)));
        } else {
            // Against a zero row: up is none, average halves a, Paeth is sub.
            const auto half_a = O::and_(O::srli16(a, 1), O::set8(0x7f));
            sum3 = O::add64(sum3, cost_of<O>(O::sub8(x, half_a)));
        }
    }
    costs[0] += O::sum64(sum0);
    costs[1] += O::sum64(sum1);
    if constexpr (has_above) {
        costs[2] += O::sum64(sum2);
        costs[4] += O::sum64(sum4);
    } else {
        costs[2] += O::sum64(sum0);
        costs[4] += O::sum64(sum1);
    }
    costs[3] += O::sum64(sum3);
    return k;
}

template <class O, int F>
std::size_t filter_row_blocks(const unsigned char *row, const unsigned char *above,
                              std::size_t start, std::size_t end, int channels, unsigned char *out)
{
    std::size_t k = start;
    for (; k + O::size <= end; k += O::size) {
        const auto x = O::load(row + k);
        const auto a = F == 0 ? O::zero() : O::load(row + k - channels);
        const auto b = above && F >= 2 ? O::load(above + k) : O::zero();
        const auto c = above && F == 4 ? O::load(above + k - channels) : O::zero();
        O::store(out + (k - start), filtered<O, F>(x, a, b, c));
    }
    return k;
}

// The kernels for a filter and a first row or not given at run time.
template <class O>
std::size_t filter_costs_blocks_for(const unsigned char *row, const unsigned char *above,
                                    std::size_t start, std::size_t end, int channels,
                                    std::uint64_t costs[5])
{
    return above ? filter_costs_blocks<O, true>(row, above, start, end, channels, costs)
                 : filter_costs_blocks<O, false>(row, above, start, end, channels, costs);
}

template <class O>
std::size_t filter_row_blocks_for(int filter, const unsigned char *row, const unsigned char *above,
                                  std::size_t start, std::size_t end, int channels, unsigned char *out)
{
    switch (filter) {
    case 0: return filter_row_blocks<O, 0>(row, above, start, end, channels, out);
    case 1: return filter_row_blocks<O, 1>(row, above, start, end, channels, out);
    case 2: return filter_row_blocks<O, 2>(row, above, start, end, channels, out);
    case 3: return filter_row_blocks<O, 3>(row, above, start, end, channels, out);
    case 4: return filter_row_blocks<O, 4>(row, above, start, end, channels, out);
    }
    return start;
}

} // namespace
