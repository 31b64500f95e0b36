// End to end: the built binary run in a fresh working directory on inputs of
// every format and layout, its outputs read back by a second decoder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <zlib.h>

#include "harness.h"
#include "arch/kernels.h"
#include "remap/remap.h"
#include "stb_image.h"

namespace {

// The outputs in dir must be the decoded input with the first map applied,
// then with both: same size and channel count, 8-bit, one PNG colour type per
// channel count.
void expect_outputs_match(const fs::path &dir, const decoded &input)
{
    static const int colour_type_for[] = {-1, 0, 4, 2, 6};
    const auto first = apply_map(input.pixels, input.channels, digit_remap);
    const auto second = apply_map(first, input.channels, bit_remap);
    for (auto [name, expected] : {std::pair{"outfirst.png", &first}, std::pair{"outsecond.png", &second}}) {
        SCOPED_TRACE(name);
        const decoded out = libpng_decode(dir / name);
        ASSERT_EQ(out.error, "");
        EXPECT_EQ(out.width, input.width);
        EXPECT_EQ(out.height, input.height);
        EXPECT_EQ(out.channels, input.channels);
        EXPECT_EQ(out.bit_depth, 8);
        EXPECT_EQ(out.colour_type, colour_type_for[input.channels]);
        EXPECT_FALSE(out.interlaced);
        EXPECT_TRUE(out.pixels == *expected) << "pixels differ from the maps applied to the input";
    }
}

// ---- every format and layout ----------------------------------------------

struct format_case {
    const char *file;
    int channels;  // as the decoder delivers it
};

void PrintTo(const format_case &c, std::ostream *out) { *out << c.file; }

using formats = with_temp_dir<format_case>;

TEST_P(formats, outputs_are_the_maps_applied_to_the_decoded_input)
{
    const format_case c = GetParam();
    fs::copy_file(fixture(c.file), dir / c.file);
    // PNM has a reader of the tests' own; everything else is as stb_image
    // decodes it.
    const bool pnm = fs::path(c.file).extension() == ".ppm" || fs::path(c.file).extension() == ".pgm";
    const decoded input = pnm ? pnm_decode(fixture(c.file)) : stb_decode(fixture(c.file));
    ASSERT_EQ(input.error, "");
    ASSERT_EQ(input.channels, c.channels);

    const run_result run = run_pixremap(dir, {c.file});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    expect_outputs_match(dir, input);
}

INSTANTIATE_TEST_SUITE_P(
    all, formats,
    testing::Values(format_case{"rgb.png", 3}, format_case{"rgba.png", 4},
                    format_case{"grey.png", 1}, format_case{"grey_alpha.png", 2},
                    format_case{"rgb16.png", 3}, format_case{"grey16.png", 1},
                    format_case{"palette.png", 3}, format_case{"palette_trns.png", 4},
                    format_case{"interlaced.png", 3}, format_case{"rgb.jpg", 3},
                    format_case{"progressive.jpg", 3}, format_case{"grey.jpg", 1},
                    format_case{"rgb.bmp", 3}, format_case{"rgba.bmp", 4},
                    format_case{"palette.bmp", 3}, format_case{"anim.gif", 4},
                    format_case{"rgb.psd", 4}, format_case{"rgba_rle.psd", 4},
                    format_case{"rgb16.psd", 4}, format_case{"rgb.tga", 3},
                    format_case{"rgba_rle.tga", 4}, format_case{"grey.tga", 1},
                    format_case{"image.hdr", 3}, format_case{"image.pic", 4},
                    format_case{"image_rle.pic", 4}, format_case{"rgb.pic", 3},
                    format_case{"rgb.ppm", 3},
                    format_case{"grey.pgm", 1}, format_case{"rgb16.ppm", 3},
                    format_case{"grey16.pgm", 1},
                    // Decoded larger than their headers declare.
                    format_case{"trns_grey1.png", 2}, format_case{"trns_grey8.png", 2},
                    format_case{"trns_grey16.png", 2}, format_case{"trns_rgb8.png", 4},
                    format_case{"topdown_1.bmp", 3}, format_case{"topdown_4.bmp", 3},
                    format_case{"topdown_8.bmp", 3}, format_case{"topdown_16.bmp", 3},
                    format_case{"topdown_24.bmp", 3}, format_case{"topdown_32.bmp", 3},
                    format_case{"v4_masks.bmp", 3}, format_case{"v4_masks_alpha.bmp", 4},
                    format_case{"v5_masks.bmp", 3}, format_case{"v5_masks_alpha.bmp", 4},
                    format_case{"rgba_partial.psd", 4}, format_case{"rle.hdr", 3}),
    [](const testing::TestParamInfo<format_case> &param) { return test_name_of(param.param.file); });

using decoding = temp_dir_fixture<>;

// A 16-bit PNG is read as the high byte of every sample: both outputs of a
// run are libpng's own reduction of the file, mapped. The fixtures' high
// and low bytes differ (make_fixtures.py), so keeping the low byte fails.
TEST_F(decoding, sixteen_bit_png_keeps_the_high_byte)
{
    for (const char *file : {"rgb16.png", "grey16.png"}) {
        SCOPED_TRACE(file);
        put(file);
        ASSERT_EQ(run_pixremap(dir, {file}).status, 0);
        const decoded input = libpng_decode(fixture(file));
        ASSERT_EQ(input.bit_depth, 16);
        expect_outputs_match(dir, input);
    }
}

// 16-bit PNM is read as the high byte of each big-endian sample, whatever
// the machine's byte order (stb_image alone would keep the low byte).
TEST_F(decoding, sixteen_bit_pnm_keeps_the_high_byte)
{
    put("rgb16.ppm");
    ASSERT_EQ(run_pixremap(dir, {"rgb16.ppm"}).status, 0);
    const decoded input = pnm_decode(fixture("rgb16.ppm"));
    // The fixture's first pixel is stored as 0x0064, 0x2AFE, 0x8005: high
    // bytes 0, 42, 128 (stb_image alone would give the low ones, 100, 254, 5).
    ASSERT_EQ(std::vector<unsigned char>(input.pixels.begin(), input.pixels.begin() + 3),
              (std::vector<unsigned char>{0, 42, 128}));
    const decoded out = libpng_decode(dir / "outfirst.png");
    EXPECT_EQ(std::vector<unsigned char>(out.pixels.begin(), out.pixels.begin() + 3),
              (std::vector<unsigned char>{digit_remap(0), digit_remap(42), digit_remap(128)}));
}

// An animated GIF gives its first frame, not the second.
TEST_F(decoding, gif_gives_its_first_frame)
{
    put("anim.gif");
    const std::string bytes = read_file(fixture("anim.gif"));
    int *delays = nullptr;
    int width = 0, height = 0, frames = 0, channels = 0;
    unsigned char *all = stbi_load_gif_from_memory(
        reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()),
        &delays, &width, &height, &frames, &channels, 4);
    ASSERT_NE(all, nullptr);
    ASSERT_GE(frames, 2);
    const std::size_t frame_size = static_cast<std::size_t>(width) * height * 4;
    const std::vector<unsigned char> frame0(all, all + frame_size), frame1(all + frame_size, all + 2 * frame_size);
    stbi_image_free(all);
    stbi_image_free(delays);
    ASSERT_NE(frame0, frame1);

    ASSERT_EQ(run_pixremap(dir, {"anim.gif"}).status, 0);
    const decoded out = libpng_decode(dir / "outfirst.png");
    EXPECT_TRUE(out.pixels == apply_map(frame0, 4, digit_remap));
}

// ---- byte identity -------------------------------------------------------

// Golden SHA-256 of both outputs: stb_image_write's exact bytes at its
// defaults. A change here means the written files changed.
struct golden_case {
    const char *file, *first, *second;
};

const golden_case golden_cases[] = {
#include "golden.inc"
};

using byte_identity = temp_dir_fixture<>;

TEST_F(byte_identity, outputs_are_byte_identical_to_the_golden_files)
{
    for (const golden_case &c : golden_cases) {
        SCOPED_TRACE(c.file);
        fs::copy_file(fixture(c.file), dir / "in", fs::copy_options::overwrite_existing);
        ASSERT_EQ(run_pixremap(dir, {"in"}).status, 0);
        EXPECT_EQ(sha256_of(dir / "outfirst.png"), c.first);
        EXPECT_EQ(sha256_of(dir / "outsecond.png"), c.second);
    }
}

// Every path of kernels this machine runs gives the same bytes end to end:
// the golden files, and the example image's pictures, whose 320x200 pixels
// take the match search's buckets rather than its chains. The path is
// chosen with PIXREMAP_KERNELS, which only builds with the kernel switch
// (test.sh's) read; a path this machine can't run is skipped, saying why.
using kernel_paths = with_temp_dir<kernel_path>;

TEST_P(kernel_paths, give_the_same_bytes)
{
#ifndef PIXREMAP_KERNEL_SWITCH
    GTEST_SKIP() << "this build has no kernel switch (configure with -DPIXREMAP_KERNEL_SWITCH=ON)";
#endif
    if (!kernel_path_runs(GetParam()))
        GTEST_SKIP() << "this machine can't run the " << kernel_path_name(GetParam()) << " kernels";
    const std::string path = kernel_path_name(GetParam());
    const auto on_path = [path] { setenv("PIXREMAP_KERNELS", path.c_str(), 1); };
    for (const golden_case &c : golden_cases) {
        SCOPED_TRACE(c.file);
        fs::copy_file(fixture(c.file), dir / "in", fs::copy_options::overwrite_existing);
        ASSERT_EQ(run_pixremap(dir, {"in"}, on_path).status, 0);
        EXPECT_EQ(sha256_of(dir / "outfirst.png"), c.first);
        EXPECT_EQ(sha256_of(dir / "outsecond.png"), c.second);
    }
    const fs::path examples = EXAMPLES_DIR;
    fs::copy_file(examples / "default.png", dir / "default.png");
    ASSERT_EQ(run_pixremap(dir, {}, on_path).status, 0);
    for (const char *name : {"outfirst.png", "outsecond.png"})
        EXPECT_TRUE(read_file(dir / name) == read_file(examples / name)) << name;
}

INSTANTIATE_TEST_SUITE_P(all, kernel_paths,
                         testing::Values(kernel_path::portable, kernel_path::generic, kernel_path::neon,
                                         kernel_path::sse2, kernel_path::avx2, kernel_path::avx512),
                         [](const testing::TestParamInfo<kernel_path> &p) { return std::string(kernel_path_name(p.param)); });

TEST_F(byte_identity, repeated_runs_give_identical_bytes)
{
    put("rgba.png");
    ASSERT_EQ(run_pixremap(dir, {"rgba.png"}).status, 0);
    const std::string first = read_file(dir / "outfirst.png"), second = read_file(dir / "outsecond.png");
    ASSERT_EQ(run_pixremap(dir, {"rgba.png"}).status, 0);
    EXPECT_TRUE(read_file(dir / "outfirst.png") == first);
    EXPECT_TRUE(read_file(dir / "outsecond.png") == second);
}

// ---- the command line ----------------------------------------------------

using command_line = temp_dir_fixture<>;

TEST_F(command_line, no_argument_reads_default_png)
{
    put("rgb.png", "default.png");
    const run_result run = run_pixremap(dir, {});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    expect_outputs_match(dir, stb_decode(fixture("rgb.png")));
}

TEST_F(command_line, no_argument_and_no_default_png_is_an_error)
{
    const run_result run = run_pixremap(dir, {});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "pixremap: cannot read 'default.png': No such file or directory\n");
    EXPECT_TRUE(list_dir(dir).empty());
}

TEST_F(command_line, arguments_after_the_first_are_ignored)
{
    put("rgba.png");
    put("rgb.png", "default.png");
    const run_result run = run_pixremap(dir, {"rgba.png", "default.png", "missing.png", "-x"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    expect_outputs_match(dir, stb_decode(fixture("rgba.png")));
}

TEST_F(command_line, long_paths_are_read_whole)
{
    // Four nested 60-character directory names: a path of over 250
    // characters, relative and absolute.
    fs::path nested;
    for (char ch : {'a', 'b', 'c', 'd'})
        nested /= std::string(60, ch);
    fs::create_directories(dir / nested);
    fs::copy_file(fixture("grey_alpha.png"), dir / nested / "picture.png");
    const std::string relative = (nested / "picture.png").string();
    ASSERT_GT(relative.size(), 200u);
    for (const std::string &path : {relative, (dir / nested / "picture.png").string()}) {
        fs::remove(dir / "outfirst.png");
        fs::remove(dir / "outsecond.png");
        const run_result run = run_pixremap(dir, {path});
        EXPECT_EQ(run.status, 0) << path;
        EXPECT_EQ(run.err, "");
        expect_outputs_match(dir, stb_decode(fixture("grey_alpha.png")));
    }
}

// Forty nested directories of 250 characters: a path of over 10,000
// characters, past the system's limit on one path (PATH_MAX, 4096), made
// and removed a directory at a time.
TEST_F(command_line, paths_past_the_system_limit_are_read)
{
    const std::string step = std::string(249, 'd') + "/";
    std::string path;
    int at = open(dir.c_str(), O_PATH | O_DIRECTORY);
    for (int k = 0; k < 40; ++k, path += step) {
        ASSERT_EQ(mkdirat(at, step.c_str(), 0755), 0);
        const int next = openat(at, step.c_str(), O_PATH | O_DIRECTORY);
        close(at);
        at = next;
    }
    const std::string png = read_file(fixture("grey_alpha.png"));
    const int out = openat(at, "picture.png", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(write(out, png.data(), png.size()), static_cast<ssize_t>(png.size()));
    close(out);
    close(at);
    path += "picture.png";
    ASSERT_GT(path.size(), 10000u);

    const run_result run = run_pixremap(dir, {path});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.err.empty()) << run.err.substr(0, 200);
    expect_outputs_match(dir, stb_decode(fixture("grey_alpha.png")));
    // The standard library removes a tree by whole paths; rm walks it.
    EXPECT_EQ(std::system(("rm -rf '" + (dir / step.substr(0, 249)).string() + "'").c_str()), 0);
}

// ---- the output files ----------------------------------------------------

using output_files = temp_dir_fixture<>;

TEST_F(output_files, existing_outputs_are_replaced_and_keep_their_permissions)
{
    put("rgb.png");
    write_file(dir / "outfirst.png", "an old file");
    write_file(dir / "outsecond.png", "another old file");
    fs::permissions(dir / "outfirst.png", fs::perms(0640));
    fs::permissions(dir / "outsecond.png", fs::perms(0604));
    const run_result run = run_pixremap(dir, {"rgb.png"});
    EXPECT_EQ(run.status, 0);
    expect_outputs_match(dir, stb_decode(fixture("rgb.png")));
    EXPECT_EQ(fs::status(dir / "outfirst.png").permissions(), fs::perms(0640));
    EXPECT_EQ(fs::status(dir / "outsecond.png").permissions(), fs::perms(0604));
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"outfirst.png", "outsecond.png", "rgb.png"}));
}

TEST_F(output_files, new_outputs_get_the_permissions_of_a_plain_create)
{
    put("rgb.png");
    for (mode_t mask : {0022, 0027, 0002}) {
        fs::remove(dir / "outfirst.png");
        fs::remove(dir / "outsecond.png");
        ASSERT_EQ(run_pixremap(dir, {"rgb.png"}, [mask] { umask(mask); }).status, 0);
        for (const char *name : {"outfirst.png", "outsecond.png"})
            EXPECT_EQ(fs::status(dir / name).permissions(), fs::perms(0666 & ~mask))
                << name << " with umask " << std::oct << mask;
    }
}

// ---- inputs, and those that can't be read ----------------------------------

// A failed read: status 1, one line naming the path, and no output created
// or changed.
void expect_read_failure(const fs::path &dir, const std::string &path, const std::string &reason = "")
{
    write_file(dir / "outsecond.png", "an old file");
    const auto before = list_dir(dir);
    const run_result run = run_pixremap(dir, {path});
    EXPECT_EQ(run.status, 1) << path;
    EXPECT_EQ(run.out, "");
    const std::string prefix = "pixremap: cannot read '" + path + "': ";
    EXPECT_EQ(run.err.rfind(prefix, 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    if (!reason.empty()) {
        EXPECT_EQ(run.err, prefix + reason + "\n");
    }
    EXPECT_EQ(list_dir(dir), before);
    EXPECT_EQ(read_file(dir / "outsecond.png"), "an old file");
}

using unreadable_inputs = temp_dir_fixture<>;

TEST_F(unreadable_inputs, fail_cleanly_and_change_nothing)
{
    expect_read_failure(dir, "missing.png", "No such file or directory");
    fs::create_directory(dir / "folder.png");
    expect_read_failure(dir, "folder.png", "Is a directory");
    put("empty.png");
    expect_read_failure(dir, "empty.png", "the file is empty");
    for (const char *file : {"text.png", "truncated.png", "truncated.jpg"}) {
        put(file);
        expect_read_failure(dir, file);
    }
}

std::string be32(std::uint32_t v)
{
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
}

// One PNG chunk: length, type, data and CRC (zlib's).
std::string png_chunk(const std::string &type, const std::string &data)
{
    const std::string body = type + data;
    const auto crc = crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
    return be32(static_cast<std::uint32_t>(data.size())) + body + be32(static_cast<std::uint32_t>(crc));
}

// A PNG with a large private chunk, which the decoder skips: by seeking in
// a file, by reading through it in a pipe.
std::string png_with_a_big_chunk()
{
    const std::string png = read_file(fixture("rgba.png"));
    const std::size_t after_ihdr = 8 + 4 + 4 + 13 + 4;
    return png.substr(0, after_ihdr) + png_chunk("prVt", std::string(100000, 'x')) + png.substr(after_ihdr);
}

using inputs = temp_dir_fixture<>;

TEST_F(inputs, reads_from_a_pipe_as_from_a_file)
{
    const std::string png = png_with_a_big_chunk();
    write_file(dir / "big.png", png);
    const decoded input = stb_decode(dir / "big.png");
    ASSERT_EQ(input.error, "");
    ASSERT_EQ(run_pixremap(dir, {"big.png"}).status, 0);
    expect_outputs_match(dir, input);

    fs::remove(dir / "outfirst.png");
    fs::remove(dir / "outsecond.png");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = open((dir / "pipe").c_str(), O_WRONLY);
        for (std::size_t at = 0; fd >= 0 && at < png.size();) {
            // Small pieces, so that the reader meets short reads.
            const ssize_t n = write(fd, png.data() + at, std::min<std::size_t>(png.size() - at, 999));
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
        close(fd);
    });
    const run_result run = run_pixremap(dir, {"pipe"});
    writer.join();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    expect_outputs_match(dir, input);
}

// An input past 2 GiB (a PNG, then 3 GiB of holes) is opened and read on
// 32-bit machines too, where offsets without large-file support end there.
TEST_F(inputs, an_input_past_2_gib_is_read)
{
    put("rgb.png");
    fs::resize_file(dir / "rgb.png", 3ull << 30);
    const run_result run = run_pixremap(dir, {"rgb.png"});
    EXPECT_EQ(run.status, 0) << run.err;
    expect_outputs_match(dir, stb_decode(fixture("rgb.png")));
}

// A name is shown on one line as it reads, whatever bytes it holds:
// printable ASCII and well-formed UTF-8 as they are, each control character
// (C0, DEL, C1 raw or as UTF-8), line separator or bidirectional control as
// '?', and each byte that isn't well-formed UTF-8 as '?'. Where the locale
// doesn't read UTF-8 (ISO-8859-1, installed or not, and the C locale),
// the bytes 0x80 to 0x9F inside UTF-8 are '?' too: C1 controls there.
struct shown_name {
    const char *test, *name, *shown;
    const char *locale = "C.UTF-8";
};

void PrintTo(const shown_name &c, std::ostream *out) { *out << c.test; }

using names = with_temp_dir<shown_name>;

TEST_P(names, are_shown_safely)
{
    const char *locale = GetParam().locale;
    const run_result run = run_pixremap(dir, {GetParam().name}, [locale] { setenv("LC_ALL", locale, 1); });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, std::string("pixremap: cannot read '") + GetParam().shown +
                           "': No such file or directory\n");
}

INSTANTIATE_TEST_SUITE_P(
    all, names,
    testing::Values(shown_name{"c0_controls", "bad\nname\x1b[2J\t.png", "bad?name?[2J?.png"},
                    shown_name{"del", "del\x7f.png", "del?.png"},
                    shown_name{"c1_raw_byte", "csi\x9b" "2J.png", "csi?2J.png"},
                    shown_name{"c1_as_utf8", "csi\xc2\x9b" "2J\xc2\x85.png", "csi?2J?.png"},
                    shown_name{"bidi_and_line_separators", "a\xe2\x80\xae" "b\xe2\x81\xa6" "c\xe2\x80\xa8.png", "a?b?c?.png"},
                    shown_name{"bidi_marks", "a\xe2\x80\x8e" "b\xe2\x80\x8f" "c\xd8\x9c.png", "a?b?c?.png"},
                    shown_name{"stray_and_cut_off_bytes", "x\x80y\xff\xe2\x82.png", "x?y???.png"},
                    shown_name{"overlong_and_surrogates", "\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80.png", "?????????.png"},
                    shown_name{"letters_of_any_script", "caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x98\x80-\xc2\xa0.png",
                               "caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x98\x80-\xc2\xa0.png"},
                    shown_name{"c1_bytes_in_a_latin1_locale", "\xc3\x9b" "31m\xc5\x85\xc3\xa9.png", "\xc3?31m\xc5?\xc3\xa9.png",
                               "de_DE.ISO-8859-1"},
                    shown_name{"c1_bytes_in_the_c_locale", "\xe6\x97\xa5.png", "\xe6?\xa5.png", "C"}),
    [](const testing::TestParamInfo<shown_name> &p) { return std::string(p.param.test); });

// ---- outputs that can't be written ----------------------------------------

using unwritable_outputs = temp_dir_fixture<>;

TEST_F(unwritable_outputs, a_directory_in_the_way_fails_that_output_only)
{
    put("rgba.png");
    fs::create_directory(dir / "outfirst.png");
    const run_result run = run_pixremap(dir, {"rgba.png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "pixremap: cannot write 'outfirst.png': Is a directory\n");
    EXPECT_TRUE(fs::is_directory(dir / "outfirst.png"));
    EXPECT_TRUE(fs::is_empty(dir / "outfirst.png"));
    // The second output is still written, with both maps applied.
    const decoded input = stb_decode(fixture("rgba.png"));
    const decoded second = libpng_decode(dir / "outsecond.png");
    EXPECT_TRUE(second.pixels == apply_map(apply_map(input.pixels, 4, digit_remap), 4, bit_remap));
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"outfirst.png", "outsecond.png", "rgba.png"}));
}

// What the run says of each output is the truth: "cannot write" only when
// the old file is still there. The system is made to fail on purpose
// (fault_injection.c); each output starts as an old file.
struct output_fault {
    const char *test, *faults;
    int status;
    const char *err;  // the same line for each output, "%s" for its name
};

void PrintTo(const output_fault &c, std::ostream *out) { *out << c.test; }

using output_faults = with_temp_dir<output_fault>;

TEST_P(output_faults, are_reported_truthfully)
{
    const output_fault c = GetParam();
    fs::copy_file(fixture("rgb.png"), dir / "rgb.png");
    write_file(dir / "outfirst.png", "old");
    write_file(dir / "outsecond.png", "old");
    const run_result run = run_pixremap(dir, {"rgb.png"}, with_faults(c.faults));
    EXPECT_EQ(run.status, c.status);
    std::string err;
    for (const char *name : {"outfirst.png", "outsecond.png"}) {
        char line[256];
        std::snprintf(line, sizeof line, c.err, name);
        err += line;
    }
    EXPECT_EQ(run.err, err);
    expect_outputs_match(dir, stb_decode(fixture("rgb.png")));
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"outfirst.png", "outsecond.png", "rgb.png"}));
}

INSTANTIATE_TEST_SUITE_P(
    all, output_faults,
    testing::Values(
        // No unnamed files on this file system, or no /proc to name one:
        // a hidden named file, as before.
        output_fault{"no_unnamed_files", "no_tmpfile", 0, ""},
        output_fault{"no_proc", "no_proc", 0, ""},
        // Links refused (a security module's policy) where unnamed files
        // can be made: the hidden named file all the same.
        output_fault{"links_refused", "no_link", 0, ""},
        // A directory that can be written and searched but not read (mode
        // 0333) can't be opened to sync it once the rename is done: the
        // output is replaced, and that is no failure.
        output_fault{"directory_that_cannot_be_read", "dir_unreadable", 0, ""},
        // Syncing the directory fails after the rename: replaced, but say so.
        output_fault{"directory_sync_fails", "dir_sync_eio", 1,
                     "pixremap: replaced '%s', but it may not be on disk: Input/output error "
                     "(syncing the directory)\n"}),
    [](const testing::TestParamInfo<output_fault> &p) { return std::string(p.param.test); });

// A message that can't be written never ends the run: with stderr a pipe
// nobody reads (EPIPE, which would be SIGPIPE) or a file already past the
// file-size limit (EFBIG, which would be SIGXFSZ), a run whose first output
// fails still writes the second and exits 1.
struct failing_stderr {
    const char *test;
    void (*set_up)(const fs::path &dir);
};

void PrintTo(const failing_stderr &c, std::ostream *out) { *out << c.test; }

using failing_stderrs = with_temp_dir<failing_stderr>;

TEST_P(failing_stderrs, never_end_the_run)
{
    fs::copy_file(fixture("rgba.png"), dir / "rgba.png");
    fs::create_directory(dir / "outfirst.png");
    const fs::path here = dir;
    const auto set_up = GetParam().set_up;
    const run_result run = run_pixremap(dir, {"rgba.png"}, [set_up, here] { set_up(here); });
    EXPECT_EQ(run.status, 1);
    const decoded input = stb_decode(fixture("rgba.png"));
    const decoded second = libpng_decode(dir / "outsecond.png");
    EXPECT_TRUE(second.pixels == apply_map(apply_map(input.pixels, 4, digit_remap), 4, bit_remap));
}

INSTANTIATE_TEST_SUITE_P(
    all, failing_stderrs,
    testing::Values(failing_stderr{"a_pipe_nobody_reads",
                                   [](const fs::path &) {
                                       int ends[2];
                                       if (pipe(ends) != 0 || dup2(ends[1], 2) < 0)
                                           _exit(125);
                                       close(ends[0]);
                                   }},
                    failing_stderr{"a_file_past_the_size_limit",
                                   [](const fs::path &dir) {
                                       const std::string big = (dir.parent_path() / (dir.filename().string() + ".err")).string();
                                       const int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
                                       if (fd < 0 || ftruncate(fd, 1 << 20) != 0 || dup2(fd, 2) < 0)
                                           _exit(125);
                                       unlink(big.c_str());
                                       const rlimit cap{1 << 19, 1 << 19};
                                       setrlimit(RLIMIT_FSIZE, &cap);
                                   }}),
    [](const testing::TestParamInfo<failing_stderr> &p) { return std::string(p.param.test); });

// Runs the child as nobody when the tests run as root, so that permissions
// bite; exits 124 where that isn't possible.
void become_nobody()
{
    if (geteuid() != 0)
        return;
    const gid_t nogroup = 65534;
    if (setgroups(1, &nogroup) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
        _exit(124);
}

TEST_F(unwritable_outputs, a_read_only_directory_fails_both_outputs)
{
    // The binary is copied beside the test so that nobody can run it even
    // when the build tree is private to root.
    const fs::path bin_dir = make_temp_dir();
    fs::copy_file(pixremap_binary(), bin_dir / "pixremap");
    fs::permissions(bin_dir, fs::perms(0755));
    put("rgb.png");
    fs::permissions(dir / "rgb.png", fs::perms(0644));
    fs::permissions(dir, fs::perms(0555));

    const run_result run = run_binary((bin_dir / "pixremap").string(), dir, {"rgb.png"}, become_nobody);
    remove_temp_dir(bin_dir);
    if (run.status == 124)
        GTEST_SKIP() << "cannot run as another user here";
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "pixremap: cannot write 'outfirst.png': Permission denied\n"
                       "pixremap: cannot write 'outsecond.png': Permission denied\n");
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"rgb.png"}));
}

TEST_F(unreadable_inputs, one_without_read_permission_fails_cleanly)
{
    const fs::path bin_dir = make_temp_dir();
    fs::copy_file(pixremap_binary(), bin_dir / "pixremap");
    fs::permissions(bin_dir, fs::perms(0755));
    fs::permissions(dir, fs::perms(0777));
    put("rgb.png");
    fs::permissions(dir / "rgb.png", fs::perms(0));

    const run_result run = run_binary((bin_dir / "pixremap").string(), dir, {"rgb.png"}, become_nobody);
    remove_temp_dir(bin_dir);
    if (run.status == 124)
        GTEST_SKIP() << "cannot run as another user here";
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "pixremap: cannot read 'rgb.png': Permission denied\n");
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"rgb.png"}));
}

#ifndef __SANITIZE_ADDRESS__
// A black RGB PNG, width x height, rows unfiltered: tiny on disk, as large
// as any other once decoded.
std::string black_png(std::uint32_t width, std::uint32_t height)
{
    const std::string row(1 + std::size_t{width} * 3, '\0');
    z_stream z = {};
    deflateInit(&z, 1);
    std::string idat;
    std::vector<unsigned char> out(1 << 16);
    for (std::uint32_t y = 0; y <= height; ++y) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(row.data()));
        z.avail_in = y < height ? static_cast<uInt>(row.size()) : 0;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, y < height ? Z_NO_FLUSH : Z_FINISH);
            idat.append(reinterpret_cast<char *>(out.data()), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           png_chunk("IHDR", be32(width) + be32(height) + std::string{8, 2, 0, 0, 0}) + png_chunk("IDAT", idat) +
           png_chunk("IEND", "");
}

using memory_limits = temp_dir_fixture<>;

// Under an address-space limit (ulimit -v), more room never makes a run
// fail: on a ladder of limits, once one passes every higher one passes, and
// one that can't hold the image says so. (AddressSanitizer can't run under
// such a limit, so its build skips this.)
TEST_F(memory_limits, a_higher_address_space_limit_never_fails_where_a_lower_one_passed)
{
    write_file(dir / "black.png", black_png(6000, 6000));  // 108 MB decoded
    bool passed = false;
    for (const double gib : {0.125, 0.25, 0.5, 0.75, 1.0, 1.5, 2.0, 2.0625, 2.125, 2.25, 2.5, 3.0, 4.0}) {
        const auto bytes = static_cast<rlim_t>(gib * (1u << 30));
        const run_result run = run_pixremap(dir, {"black.png"}, [bytes] {
            const rlimit cap{bytes, bytes};
            setrlimit(RLIMIT_AS, &cap);
        });
        SCOPED_TRACE(std::to_string(gib) + " GiB");
        if (passed) {
            EXPECT_EQ(run.status, 0) << run.err;
        }
        passed = passed || run.status == 0;
        if (run.status != 0) {
            EXPECT_TRUE(run.err.find("ut of memory") != std::string::npos ||
                        run.err.find("this run can map only") != std::string::npos ||
                        run.err.find("cannot start the decoder") != std::string::npos)
                << run.err;
        }
    }
    EXPECT_TRUE(passed);
}

// Under a data-size limit (ulimit -d) too tight to decode in, running out
// of memory is said as such, by the decoder or by the run itself, at every
// limit under which the program starts at all: never an abort, never a
// crash or an attack blamed on the file.
TEST_F(memory_limits, a_tight_data_limit_is_said_as_out_of_memory)
{
    fs::copy_file(fixture("rgb.png"), dir / "rgb.png");
    int refused = 0, written = 0;
    for (rlim_t kib = 100; kib <= 2000; kib += 50) {
        const run_result run = run_pixremap(dir, {"rgb.png"}, [kib] {
            const rlimit cap{kib << 10, kib << 10};
            setrlimit(RLIMIT_DATA, &cap);
        });
        SCOPED_TRACE(std::to_string(kib) + " KiB");
        // Too tight for the program to start: the dynamic loader's own
        // failure (its libraries, or its threads' storage), exit status
        // 127, which the tool itself never gives.
        if (run.status == 127)
            continue;
        written += run.status == 0;
        refused += run.status == 1;
        EXPECT_TRUE(run.status == 0 || run.err == "pixremap: cannot read 'rgb.png': Out of memory\n" ||
                    run.err == "pixremap: out of memory\n")
            << "status " << run.status << ": " << run.err;
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(written, 0);
}
#endif

using example_image = temp_dir_fixture<>;

// The pictures the README shows are committed beside the example image; they
// must be what the current tool makes from it (./run.sh remakes them).
TEST_F(example_image, the_readme_pictures_are_what_the_tool_makes_now)
{
    const fs::path examples = EXAMPLES_DIR;
    fs::copy_file(examples / "default.png", dir / "default.png");
    ASSERT_EQ(run_pixremap(dir, {}).status, 0);
    for (const char *name : {"outfirst.png", "outsecond.png"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(read_file(dir / name) == read_file(examples / name))
            << "examples/" << name << " is stale: run ./run.sh and commit it";
    }
}

} // namespace
