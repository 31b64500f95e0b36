// save_png: the file it leaves, held to stb_image_write's bytes, and its
// failure promises.
#include <gtest/gtest.h>

#include "harness.h"
#include "png/png_write.h"
#include "remap/remap.h"
#include "save.h"

namespace {

std::vector<unsigned char> varied_pixels(int width, int height, int channels, bool noisy = false)
{
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * channels);
    unsigned state = 12345;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        state = state * 1103515245u + 12345u;
        // Smooth runs with some noise, so that every row filter gets chosen;
        // or noise alone, which PNG writers store uncompressed.
        pixels[i] = noisy ? static_cast<unsigned char>(state >> 16)
                          : static_cast<unsigned char>((i / channels) % 251 + ((state >> 16) & 7));
    }
    return pixels;
}

using save = temp_dir_fixture<>;

// Smooth and noisy images either side of the 64 KiB the sink gathers
// before writing (the large noisy ones are cut back on disk to restart
// stored), with one writer scratch for all, as a run shares one.
TEST_F(save, writes_exactly_what_stbi_write_png_writes)
{
    png_scratch *const scratch = png_scratch_make();
    for (int channels = 1; channels <= 4; ++channels) {
        for (auto [width, height] : {std::pair{1, 1}, std::pair{17, 9}, std::pair{300, 7}, std::pair{200, 120}}) {
            for (const bool noisy : {false, true}) {
                SCOPED_TRACE(testing::Message() << width << "x" << height << "x" << channels << (noisy ? " noisy" : ""));
                const auto pixels = varied_pixels(width, height, channels, noisy);
                const fs::path ours = dir / "ours.png";
                std::string reason;
                ASSERT_EQ(save_png(ours.c_str(), pixels.data(), width, height, channels, scratch, &reason),
                          atomic_result::replaced)
                    << reason;
                EXPECT_TRUE(read_file(ours) == stb_png(pixels.data(), width, height, channels));
                EXPECT_EQ(list_dir(dir), std::vector<std::string>{"ours.png"});
            }
        }
    }
    png_scratch_free(scratch);
}

TEST_F(save, replaces_a_file_in_another_directory_and_leaves_no_temporary)
{
    fs::create_directory(dir / "sub");
    write_file(dir / "sub" / "out.png", "old");
    const auto pixels = varied_pixels(5, 5, 3);
    std::string reason;
    ASSERT_EQ(save_png((dir / "sub" / "out.png").c_str(), pixels.data(), 5, 5, 3, nullptr, &reason), atomic_result::replaced) << reason;
    EXPECT_TRUE(libpng_decode(dir / "sub" / "out.png").pixels == pixels);
    EXPECT_EQ(list_dir(dir / "sub"), std::vector<std::string>{"out.png"});
}

TEST_F(save, fails_with_the_system_reason_and_creates_nothing)
{
    const auto pixels = varied_pixels(5, 5, 3);
    std::string reason;
    EXPECT_EQ(save_png((dir / "missing" / "out.png").c_str(), pixels.data(), 5, 5, 3, nullptr, &reason), atomic_result::kept_old);
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_TRUE(list_dir(dir).empty());
}

// A row of 16777216 bytes, one more than stb_image_write's 32-bit filter
// sums allow: written whole, end to end, and read back by libpng.
TEST_F(save, the_tool_writes_rows_longer_than_stb_can)
{
    const long width = 16777216L;
    std::string row(static_cast<std::size_t>(width), '\0');
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i] = static_cast<char>(i * 7 / 1000);
    write_file(dir / "wide.pgm", "P5\n" + std::to_string(width) + " 1\n255\n" + row);
    const run_result run = run_pixremap(dir, {"wide.pgm"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<unsigned char> input(row.begin(), row.end());
    const auto first = apply_map(input, 1, digit_remap);
    for (auto [name, expected] : {std::pair{"outfirst.png", first},
                                  std::pair{"outsecond.png", apply_map(first, 1, bit_remap)}}) {
        const decoded out = libpng_decode(dir / name);
        ASSERT_EQ(out.error, "") << name;
        EXPECT_EQ(out.width, width);
        EXPECT_EQ(out.height, 1);
        EXPECT_TRUE(out.pixels == expected) << name;
    }
}

} // namespace
