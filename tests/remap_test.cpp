// The two byte maps against the value tables they were defined by and against
// a second formulation of each; the pass over every channel layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "remap/remap.h"

namespace {

using table = std::vector<std::pair<int, int>>;

// The reference tables: input, expected output.
const table digit_rows = {{0, 0},    {1, 232},  {2, 208},  {5, 136},   {9, 40},    {10, 100},
                          {11, 76},  {42, 96},  {99, 172}, {100, 10},  {101, 242}, {123, 138},
                          {128, 18}, {200, 20}, {254, 168}, {255, 144}};
const table bit_rows = {{0, 0},     {1, 0},    {2, 128},  {3, 128},  {4, 64},   {5, 64},  {9, 32},
                        {10, 160},  {11, 160}, {42, 168}, {99, 140}, {100, 76}, {101, 76},
                        {123, 188}, {128, 2},  {144, 18}, {200, 38}, {254, 254}, {255, 254}};
const table both_rows = {{0, 0},    {1, 46},    {2, 22},    {5, 34},    {10, 76},
                         {11, 100}, {42, 12},   {99, 106},  {100, 160}, {123, 162},
                         {128, 144}, {200, 80}, {255, 18}};

// The same maps said another way: through the decimal and binary text of
// the value.
int digit_by_text(int v)
{
    char text[4];
    std::snprintf(text, sizeof text, "%03d", v);
    std::string digits(text);
    std::reverse(digits.begin(), digits.end());
    return std::stoi(digits + "0") % 256;
}

int bit_by_text(int v)
{
    std::string bits = std::bitset<8>(static_cast<unsigned long>(v)).to_string();
    std::reverse(bits.begin(), bits.end());
    return static_cast<int>(std::bitset<9>(bits + "0").to_ulong() % 256);
}

TEST(maps, match_the_reference_tables)
{
    for (auto [in, out] : digit_rows)
        EXPECT_EQ(digit_remap(static_cast<std::uint8_t>(in)), out) << "digit_remap(" << in << ")";
    for (auto [in, out] : bit_rows)
        EXPECT_EQ(bit_remap(static_cast<std::uint8_t>(in)), out) << "bit_remap(" << in << ")";
    for (auto [in, out] : both_rows)
        EXPECT_EQ(bit_remap(digit_remap(static_cast<std::uint8_t>(in))), out)
            << "bit_remap(digit_remap(" << in << "))";
}

TEST(maps, agree_with_the_textual_formulation_on_every_byte)
{
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(digit_remap(static_cast<std::uint8_t>(v)), digit_by_text(v)) << v;
        EXPECT_EQ(bit_remap(static_cast<std::uint8_t>(v)), bit_by_text(v)) << v;
    }
}

TEST(maps, give_every_even_value_and_only_even_values)
{
    std::vector<int> digit_hits(256), bit_hits(256);
    for (int v = 0; v < 256; ++v) {
        ++digit_hits[digit_remap(static_cast<std::uint8_t>(v))];
        ++bit_hits[bit_remap(static_cast<std::uint8_t>(v))];
        // bit_remap drops the lowest bit, so v and v ^ 1 always agree.
        EXPECT_EQ(bit_remap(static_cast<std::uint8_t>(v)), bit_remap(static_cast<std::uint8_t>(v ^ 1)));
    }
    for (int r = 0; r < 256; ++r) {
        if (r % 2) {
            EXPECT_EQ(digit_hits[r], 0) << r;
            EXPECT_EQ(bit_hits[r], 0) << r;
        } else {
            EXPECT_GE(digit_hits[r], 1) << r;
            EXPECT_EQ(bit_hits[r], 2) << r;
        }
    }
}

// ---- the pass -------------------------------------------------------------

constexpr int guard = 64;
constexpr unsigned char guard_byte = 0xA5;

// A buffer holding width * height * channels varied samples with guard bytes
// on both sides, which the pass must never touch.
std::vector<unsigned char> guarded_image(int width, int height, int channels)
{
    const std::size_t size = static_cast<std::size_t>(width) * height * channels;
    std::vector<unsigned char> buffer(2 * guard, guard_byte);
    for (std::size_t i = 0; i < size; ++i)
        buffer.insert(buffer.begin() + guard + i, static_cast<unsigned char>(i * 37 + 11));
    return buffer;
}

// Each map as the pass is told it, with its definition to hold it to.
struct named_map {
    byte_map map;
    std::uint8_t (*reference)(std::uint8_t);
};
constexpr named_map both_maps[] = {{byte_map::digit, digit_remap}, {byte_map::bit, bit_remap}};

// What the pass should leave: the samples at the colour offsets mapped, all
// else as it was. Colour is red, green and blue for 3 and 4 channels and the
// grey sample for 1 and 2.
std::vector<unsigned char> expected_after(std::vector<unsigned char> buffer, int width, int height,
                                          int channels, std::uint8_t (*map)(std::uint8_t))
{
    const int colour = channels >= 3 ? 3 : 1;
    const std::size_t size = static_cast<std::size_t>(width) * height * channels;
    for (std::size_t i = 0; i < size; ++i)
        if (static_cast<int>(i % channels) < colour)
            buffer[guard + i] = map(buffer[guard + i]);
    return buffer;
}

// The pass works through blocks of bytes and finishes the rest one by one:
// every width from 1 to 40 on 1 to 3 rows, in every layout, puts the end of
// the block work at every offset within a pixel. Guard bytes on both sides
// must stay untouched.
TEST(pass, maps_colour_samples_of_every_layout_and_nothing_else)
{
    for (int channels = 1; channels <= 4; ++channels)
        for (int height = 1; height <= 3; ++height)
            for (int width = 1; width <= 40; ++width) {
                SCOPED_TRACE(testing::Message() << width << "x" << height << "x" << channels);
                auto buffer = guarded_image(width, height, channels);
                const auto first = expected_after(buffer, width, height, channels, digit_remap);
                const auto second = expected_after(first, width, height, channels, bit_remap);
                remap_pixels(buffer.data() + guard, width, height, channels, byte_map::digit);
                ASSERT_EQ(buffer, first);
                remap_pixels(buffer.data() + guard, width, height, channels, byte_map::bit);
                ASSERT_EQ(buffer, second);
            }
}

// Every value at every position of a 16-byte block, in every layout.
TEST(pass, every_value_at_every_position_in_a_block)
{
    std::vector<unsigned char> values(256 * 16 * 12);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<unsigned char>(i / 16 + (i % 16) * 17);
    for (int channels = 1; channels <= 4; ++channels) {
        SCOPED_TRACE(channels);
        const int width = static_cast<int>(values.size()) / channels;
        const int colour = channels >= 3 ? 3 : 1;
        for (auto [map, reference] : both_maps) {
            auto buffer = values;
            remap_pixels(buffer.data(), width, 1, channels, map);
            for (std::size_t i = 0; i < values.size(); ++i) {
                const bool is_colour = static_cast<int>(i % channels) < colour;
                ASSERT_EQ(buffer[i], is_colour ? reference(values[i]) : values[i]) << "byte " << i;
            }
        }
    }
}

TEST(pass, leaves_images_without_pixels_alone)
{
    for (auto [width, height] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0},
                                 std::pair{-1, 5}, std::pair{5, -3}}) {
        auto buffer = guarded_image(5, 5, 3);
        const auto before = buffer;
        remap_pixels(buffer.data() + guard, width, height, 3, byte_map::digit);
        EXPECT_EQ(buffer, before) << width << "x" << height;
    }
}

} // namespace

#include "arch/kernels.h"

namespace {

using block_kernels = testing::TestWithParam<kernel_path>;

// Each path's block kernel, whichever the pass uses here, against the maps
// themselves: every value at every position of a block, in every layout;
// whole blocks, as many as fit (at most 64 bytes left over), pixels whole
// where there is alpha, and nothing touched past the blocks it says it
// did. A path this machine can't run is skipped, saying why.
TEST_P(block_kernels, agree_with_the_maps)
{
    if (!kernel_path_runs(GetParam()))
        GTEST_SKIP() << "this machine can't run the " << kernel_path_name(GetParam()) << " kernels";
    const kernel_table k = kernels_for(GetParam());
    std::vector<unsigned char> values(256 * 64 * 3 + 45);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<unsigned char>(i / 64 + (i % 64) * 17);
    for (int channels = 1; channels <= 4; ++channels)
        for (auto [map, reference] : both_maps) {
            SCOPED_TRACE(testing::Message() << channels << " channels, "
                                            << (map == byte_map::digit ? "digit" : "bit") << " map");
            auto buffer = values;
            const std::size_t done = k.remap_blocks(buffer.data(), buffer.size(), map, channels);
            ASSERT_LE(done, buffer.size());
            ASSERT_LT(buffer.size() - done, 64u);
            ASSERT_EQ(done % (channels == 3 ? 1 : channels), 0u);
            const int colour = channels >= 3 ? 3 : 1;
            for (std::size_t i = 0; i < buffer.size(); ++i) {
                const bool mapped = i < done && static_cast<int>(i % channels) < colour;
                const unsigned char want = mapped ? reference(values[i]) : values[i];
                ASSERT_EQ(buffer[i], want) << "byte " << i;
            }
        }
}

// The paths with block kernels (the portable one has none).
INSTANTIATE_TEST_SUITE_P(paths, block_kernels,
                         testing::Values(kernel_path::generic, kernel_path::neon, kernel_path::sse2,
                                         kernel_path::avx2, kernel_path::avx512),
                         [](const testing::TestParamInfo<kernel_path> &p) { return std::string(kernel_path_name(p.param)); });

} // namespace
