// remap_neon: the blocks of remap/remap_blocks.h at 16 bytes on arm64,
// whose baseline has NEON: the generic vector operations, with each map
// done the short way NEON has. The digit map is a lookup in its own
// 256-byte table, four 64-byte table registers (TBL, then TBX for the
// three quarters above); the bit map is each byte's bits reversed (RBIT),
// shifted up one.
#include "arch/arm/remap_neon.h"

#include <arm_neon.h>

#include <array>
#include <bit>
#include <utility>

#include "arch/generic/vector_generic.h"
#include "remap/remap_blocks.h"

namespace {

constexpr std::array<std::uint8_t, 256> digit_table = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = digit_remap(static_cast<std::uint8_t>(v));
    return t;
}();

// The table's 16 bytes from `at`, as a constant rather than a load, so
// that the compiler keeps all sixteen in registers through the loop (the
// image's stores could otherwise be taken to change a table in memory).
template <std::size_t... i>
constexpr uint8x16_t table_row(std::size_t at, std::index_sequence<i...>)
{
    return uint8x16_t{digit_table[at + i]...};
}

constexpr uint8x16x4_t table_quarter(std::size_t at)
{
    constexpr auto row = std::make_index_sequence<16>{};
    return {{table_row(at, row), table_row(at + 16, row), table_row(at + 32, row), table_row(at + 48, row)}};
}

struct neon_ops : generic_ops {
    static vec digit_block(vec v)
    {
        const uint8x16_t index = std::bit_cast<uint8x16_t>(v);
        uint8x16_t r = vqtbl4q_u8(table_quarter(0), index);
        r = vqtbx4q_u8(r, table_quarter(64), vsubq_u8(index, vdupq_n_u8(64)));
        r = vqtbx4q_u8(r, table_quarter(128), vsubq_u8(index, vdupq_n_u8(128)));
        r = vqtbx4q_u8(r, table_quarter(192), vsubq_u8(index, vdupq_n_u8(192)));
        return std::bit_cast<vec>(r);
    }
    static vec bit_block(vec v) { return std::bit_cast<vec>(vshlq_n_u8(vrbitq_u8(std::bit_cast<uint8x16_t>(v)), 1)); }
};

} // namespace

std::size_t remap_blocks_neon(unsigned char *data, std::size_t bytes, byte_map map, int channels)
{
    return remap_blocks_for<neon_ops>(data, bytes, map, channels);
}
