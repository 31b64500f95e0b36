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
