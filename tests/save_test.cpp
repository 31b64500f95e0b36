// save_png against the library's own file writer, and its failure promises.
#include <gtest/gtest.h>

#include "harness.h"
#include "save.h"
#include "stb_image_write.h"

namespace {

std::vector<unsigned char> varied_pixels(int width, int height, int channels)
{
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * channels);
    unsigned state = 12345;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        state = state * 1103515245u + 12345u;
        // Smooth runs with some noise, so that every row filter gets chosen.
        pixels[i] = static_cast<unsigned char>((i / channels) % 251 + ((state >> 16) & 7));
    }
    return pixels;
}

class save : public testing::Test {
protected:
    fs::path dir = make_temp_dir();
    void TearDown() override { remove_temp_dir(dir); }
};

TEST_F(save, writes_exactly_what_stbi_write_png_writes)
{
    for (int channels = 1; channels <= 4; ++channels) {
        for (auto [width, height] : {std::pair{1, 1}, std::pair{17, 9}, std::pair{300, 7}}) {
            SCOPED_TRACE(testing::Message() << width << "x" << height << "x" << channels);
            const auto pixels = varied_pixels(width, height, channels);
            const fs::path ours = dir / "ours.png", theirs = dir / "theirs.png";
            std::string reason;
            ASSERT_TRUE(save_png(ours.c_str(), pixels.data(), width, height, channels, &reason)) << reason;
            ASSERT_EQ(stbi_write_png(theirs.c_str(), width, height, channels, pixels.data(), 0), 1);
            EXPECT_TRUE(read_file(ours) == read_file(theirs));

            const decoded back = libpng_decode(ours);
            EXPECT_EQ(back.channels, channels);
            EXPECT_TRUE(back.pixels == pixels);
        }
    }
}

TEST_F(save, replaces_a_file_in_another_directory_and_leaves_no_temporary)
{
    fs::create_directory(dir / "sub");
    write_file(dir / "sub" / "out.png", "old");
    const auto pixels = varied_pixels(5, 5, 3);
    std::string reason;
    ASSERT_TRUE(save_png((dir / "sub" / "out.png").c_str(), pixels.data(), 5, 5, 3, &reason)) << reason;
    EXPECT_TRUE(libpng_decode(dir / "sub" / "out.png").pixels == pixels);
    EXPECT_EQ(list_dir(dir / "sub"), std::vector<std::string>{"out.png"});
}

TEST_F(save, fails_with_the_system_reason_and_creates_nothing)
{
    const auto pixels = varied_pixels(5, 5, 3);
    std::string reason;
    EXPECT_FALSE(save_png((dir / "missing" / "out.png").c_str(), pixels.data(), 5, 5, 3, &reason));
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_TRUE(list_dir(dir).empty());
}

} // namespace

namespace {

// The bounds stb_image_write 1.16's 32-bit sizes allow (see save.h for how
// they follow from the library's code), at each edge.
TEST(png_fits_encoder, stops_at_the_encoders_32_bit_limits)
{
    // A row's filter cost, up to 128 a byte, is summed in an int.
    EXPECT_TRUE(png_fits_encoder(16777215, 1, 1));
    EXPECT_FALSE(png_fits_encoder(16777216, 1, 1));
    EXPECT_TRUE(png_fits_encoder(5592405, 1, 3));   // 16777215 bytes
    EXPECT_FALSE(png_fits_encoder(5592406, 1, 3));  // 16777218 bytes
    EXPECT_TRUE(png_fits_encoder(4194303, 1, 4));   // 16777212 bytes
    EXPECT_FALSE(png_fits_encoder(4194304, 1, 4));  // 16777216 bytes
    // The filtered rows, a filter byte and the row each: at most 1431655757
    // bytes, or the compressed stream's buffer could need to grow past 2^31.
    EXPECT_TRUE(png_fits_encoder(1, 715827878, 1));   // 1431655756 bytes
    EXPECT_FALSE(png_fits_encoder(1, 715827879, 1));  // 1431655758 bytes
    EXPECT_TRUE(png_fits_encoder(16777215, 85, 1));
    EXPECT_FALSE(png_fits_encoder(16777215, 86, 1));
    EXPECT_TRUE(png_fits_encoder(20000, 23860, 3));   // 1431623860 bytes
    EXPECT_FALSE(png_fits_encoder(20000, 23861, 3));  // 1431683861 bytes
    // Images that are no images.
    EXPECT_FALSE(png_fits_encoder(0, 1, 3));
    EXPECT_FALSE(png_fits_encoder(1, 0, 3));
    EXPECT_FALSE(png_fits_encoder(1, 1, 5));
}

// End to end at the row limit, which is cheap: a 16 MB grey PGM one pixel
// high. At 16777215 pixels both outputs are written; at 16777216 both are
// refused before encoding, each with its own line.
TEST_F(save, the_tool_refuses_rows_the_encoder_cannot_take)
{
    for (const long width : {16777215L, 16777216L}) {
        SCOPED_TRACE(width);
        const fs::path work = dir / std::to_string(width);
        fs::create_directory(work);
        write_file(work / "wide.pgm", "P5\n" + std::to_string(width) + " 1\n255\n" +
                                          std::string(static_cast<std::size_t>(width), '\x07'));
        const run_result run = run_pixremap(work, {"wide.pgm"});
        if (width == 16777215L) {
            EXPECT_EQ(run.status, 0) << run.err;
            const decoded out = libpng_decode(work / "outsecond.png");
            EXPECT_EQ(out.width, width);
            EXPECT_EQ(out.height, 1);
        } else {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err,
                      "pixremap: cannot write 'outfirst.png': the image is too large for the PNG encoder\n"
                      "pixremap: cannot write 'outsecond.png': the image is too large for the PNG encoder\n");
            EXPECT_EQ(list_dir(work), std::vector<std::string>{"wide.pgm"});
        }
    }
}

} // namespace
