// Images past stb_image_write's 32-bit limits and streams long enough to
// reach the PNG writer's rarest step. Gigabytes and a minute: run as the
// CTest group "slow".
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <png.h>
#include <unistd.h>

#include "harness.h"
#include "memory_png.h"
#include "stb_write.h"

namespace {

// Reads a PNG a row at a time with libpng, so that an image of gigabytes
// needs one row of memory; calls check(row, bytes) for each row.
std::string read_rows(const fs::path &file, png_uint_32 *width, png_uint_32 *height,
                      const std::function<void(const unsigned char *, std::size_t)> &check)
{
    std::FILE *in = std::fopen(file.c_str(), "rb");
    if (!in)
        return "cannot open";
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<unsigned char> row;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(in);
        return "libpng refused it";
    }
    png_init_io(png, in);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    row.resize(png_get_rowbytes(png, info));
    for (png_uint_32 y = 0; y < *height; ++y) {
        png_read_row(png, row.data(), nullptr);
        check(row.data(), row.size());
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(in);
    return "";
}

// 40000 x 40000 grey, 1600040000 bytes of filtered rows: more than the
// 1431655757 stb_image_write's sizes allow. The input is a PGM of zeros
// that takes no disk space (a sparse file); both outputs are read back
// whole by libpng.
TEST(large, an_image_past_stb_s_limits_is_written_whole)
{
    const fs::path dir = make_temp_dir();
    const long side = 40000;
    const std::string header = "P5\n" + std::to_string(side) + " " + std::to_string(side) + "\n255\n";
    write_file(dir / "flat.pgm", header);
    ASSERT_EQ(truncate((dir / "flat.pgm").c_str(), static_cast<off_t>(header.size() + side * side)), 0);

    const run_result run = run_pixremap(dir, {"flat.pgm"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const char *name : {"outfirst.png", "outsecond.png"}) {
        SCOPED_TRACE(name);
        png_uint_32 width = 0, height = 0;
        std::size_t rows = 0, nonzero = 0;
        EXPECT_EQ(read_rows(dir / name, &width, &height,
                            [&](const unsigned char *row, std::size_t size) {
                                ++rows;
                                nonzero += static_cast<std::size_t>(
                                    std::count_if(row, row + size, [](unsigned char v) { return v != 0; }));
                            }),
                  "");
        EXPECT_EQ(width, static_cast<png_uint_32>(side));
        EXPECT_EQ(height, static_cast<png_uint_32>(side));
        EXPECT_EQ(rows, static_cast<std::size_t>(side));
        EXPECT_EQ(nonzero, 0u);  // the maps keep 0 at 0
    }
    remove_temp_dir(dir);
}

// 300 MB of photo-like RGB: a stream long enough that the writer moves the
// origin its bucket positions count from (every 256 MiB), held to
// stb_image_write's bytes.
TEST(large, a_300_mb_image_is_stb_s_own_bytes)
{
    const int width = 10000, height = 10000, channels = 3;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * channels);
    unsigned state = 1;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        state = state * 1103515245u + 12345u;
        const std::size_t x = i / 3 % width, y = i / (3 * width);
        pixels[i] = static_cast<unsigned char>((x * (i % 3 + 1)) / 40 + y / 30 + (state >> 29));
    }
    const std::string ours = png_in_memory(pixels.data(), width, height, channels);
    int size = 0;
    unsigned char *theirs = reference_png(pixels.data(), width, height, channels, &size);
    ASSERT_NE(theirs, nullptr);
    EXPECT_EQ(ours.size(), static_cast<std::size_t>(size));
    EXPECT_TRUE(ours == std::string(reinterpret_cast<char *>(theirs), static_cast<std::size_t>(size)));
    std::free(theirs);
}

} // namespace
