// The slow hostile files: tiny files that declare 16384x16384 images. They
// are real images, so the tool must give correct outputs, however long it
// takes; the outputs are compared with the same file decoded by stb_image in
// this process. Run as the CTest group "slow".
#include <gtest/gtest.h>

#include <chrono>

#include "harness.h"
#include "remap/remap.h"

namespace {

using slow_hostile_files = with_temp_dir<const char *>;

TEST_P(slow_hostile_files, give_the_image_the_decoder_reads)
{
    const std::string name = GetParam();
    fs::copy_file(fs::path(HOSTILE_DIR) / name, dir / name);
    const auto start = std::chrono::steady_clock::now();
    const run_result run = run_pixremap(dir, {name});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_LT(seconds, 600);

    decoded input = stb_decode(dir / name);
    ASSERT_EQ(input.error, "");
    ASSERT_EQ(input.width, 16384);
    ASSERT_EQ(input.height, 16384);
    input.pixels = apply_map(std::move(input.pixels), input.channels, digit_remap);
    {
        const decoded out = libpng_decode(dir / "outfirst.png");
        ASSERT_EQ(out.error, "");
        EXPECT_EQ(out.width, 16384);
        EXPECT_EQ(out.height, 16384);
        EXPECT_EQ(out.channels, input.channels);
        EXPECT_TRUE(out.pixels == input.pixels);
    }
    input.pixels = apply_map(std::move(input.pixels), input.channels, bit_remap);
    const decoded out = libpng_decode(dir / "outsecond.png");
    ASSERT_EQ(out.error, "");
    EXPECT_TRUE(out.pixels == input.pixels);
}

INSTANTIATE_TEST_SUITE_P(known, slow_hostile_files,
                         testing::Values("tga-rle-16384-bomb.tga", "jpeg-16384-no-scan-bomb.jpg"),
                         [](const testing::TestParamInfo<const char *> &p) {
                             return std::string(p.param[0] == 't' ? "tga" : "jpeg");
                         });

} // namespace
