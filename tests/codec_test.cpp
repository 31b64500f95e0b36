// The hooks around stb_image: zero-filled allocations, the memory cap, and
// failed internal checks that end a call cleanly instead of aborting.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "decode/codec.h"
#include "decode/decode.h"
#include "harness.h"
#include "decode/budget.h"

namespace {

// Decodes a file in this process through the tool's own decoding path.
unsigned char *decode_fixture(const std::string &name, std::vector<unsigned char> *bytes,
                              int *w, int *h, int *c, std::string *reason)
{
    const std::string data = read_file(fixture(name));
    bytes->assign(data.begin(), data.end());
    decode_input in;
    decode_from_memory(&in, bytes->data(), bytes->size());
    if (!decode_begin(&in, reason))
        return nullptr;
    return decode_pixels(&in, w, h, c, reason);
}

struct memory_cap {
    explicit memory_cap(unsigned long long bytes) { codec_limit_memory(bytes); }
    ~memory_cap() { codec_limit_memory(~0ull); }
};

TEST(codec, a_decoder_over_its_memory_cap_says_out_of_memory)
{
    std::vector<unsigned char> bytes;
    int w = 0, h = 0, c = 0;
    std::string reason;
    {
        const memory_cap cap(1000);
        EXPECT_EQ(decode_fixture("rgb.png", &bytes, &w, &h, &c, &reason), nullptr);
        EXPECT_EQ(reason, "Out of memory");
    }
    unsigned char *pixels = decode_fixture("rgb.png", &bytes, &w, &h, &c, &reason);
    ASSERT_NE(pixels, nullptr) << "the cap outlived its scope: " << reason;
    decode_free(pixels);
}

// A cap past what the address space holds is no cap: on a 32-bit machine
// it must not wrap round to a few bytes.
TEST(codec, a_cap_past_the_address_space_is_no_cap)
{
    for (const unsigned long long cap : {(1ull << 32) + 1000, (1ull << 40) + 1000, ~0ull}) {
        const memory_cap limit(cap);
        std::vector<unsigned char> bytes;
        int w = 0, h = 0, c = 0;
        std::string reason;
        unsigned char *pixels = decode_fixture("rgb.png", &bytes, &w, &h, &c, &reason);
        EXPECT_NE(pixels, nullptr) << "cap " << cap << ": " << reason;
        decode_free(pixels);
    }
}

// The decoder's budgets as README states them: 64 MiB and 4 bytes per
// declared byte, 8 seconds and 1 per 4 MiB, counted in whole 16x16 blocks,
// and at most 4 GiB declared, whatever the header says.
TEST(codec, budgets_follow_the_declared_size_and_saturate)
{
    constexpr std::uint64_t mib = 1 << 20, gib = 1ull << 30;
    const rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
    struct row {
        image_header header;
        std::uint64_t memory, seconds;
    };
    const row rows[] = {
        {{16, 16, 3, 1}, 64 * mib + 4 * 768, 8},
        // A JPEG's working bytes count where they are more (progressive CMYK).
        {{6000, 4000, 3, 1, 360'000'000}, 64 * mib + 360'000'000, 8 + 6000ull * 4000 * 3 / (4 * mib)},
        {{4000, 3000, 3, 1}, 64 * mib + 4 * 4000ull * 3008 * 3, 8 + 4000ull * 3008 * 3 / (4 * mib)},
        {{1, 1, 4, 2}, 64 * mib + 4 * 16 * 16 * 8, 8},
        {{65536, 65536, 4, 4}, 64 * mib + 4 * 4 * gib, 8 + 1024},
        {{INT_MAX, INT_MAX, 4, 4}, 64 * mib + 4 * 4 * gib, 8 + 1024},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.header.width << "x" << r.header.height << "x"
                                        << r.header.channels << "x" << r.header.sample_bytes);
        const decoder_budget budget = decoder_budget_for(&r.header, unlimited);
        EXPECT_EQ(budget.memory, r.memory);
        EXPECT_EQ(budget.time.soft, r.seconds);
        EXPECT_EQ(budget.time.hard, r.seconds + 1);
    }
    EXPECT_EQ(decoder_budget_for(nullptr, unlimited).memory, 64 * mib);
    EXPECT_EQ(decoder_budget_for(nullptr, unlimited).time.soft, 8u);
    // The run's own limit (ulimit -t) is never passed, soft or hard.
    const decoder_time_limit under_soft = decoder_budget_for(nullptr, {2, RLIM_INFINITY}).time;
    EXPECT_TRUE(under_soft.soft == 2 && under_soft.hard == 9 && under_soft.run_limited);
    const decoder_time_limit under_hard = decoder_budget_for(nullptr, {20, 5}).time;
    EXPECT_TRUE(under_hard.soft == 5 && under_hard.hard == 5 && under_hard.run_limited);
}

// A bitmap stored top down gives its height as a negative number; the
// size it declares counts its rows, so that its budgets are its image's
// (one 2,097,168 pixels wide was given the fixed 64 MiB alone, and refused
// as out of memory).
TEST(codec, a_top_down_bitmap_declares_its_rows)
{
    const std::string file = read_file(fixture("topdown_24.bmp"));
    decode_input in;
    decode_from_memory(&in, reinterpret_cast<const unsigned char *>(file.data()), file.size());
    image_header header;
    ASSERT_TRUE(decode_header(in, &header));
    EXPECT_EQ(header.width, 11);
    EXPECT_EQ(header.height, 7);
}

// What the decoder holds for an image of each kind is within its budget's
// sized part (the fixed 64 MiB left out), give or take 1 MiB of tables:
// 1024x1024 images of every JPEG mode and of each other format, made by
// make_budget_images.py and read from a file as the decoder reads them. A
// progressive CMYK JPEG holds 15 bytes a pixel (4 planes, their
// coefficients and the image) against 12 counted by channels; one JPEG's
// frame header is past the first MiB, behind 1.2 MB of XMP.
TEST(codec, the_budget_holds_what_the_decoder_holds)
{
    const fs::path dir = make_temp_dir();
    const run_result made = run_binary("/usr/bin/python3", dir, {MAKE_BUDGET_IMAGES, dir.string()});
    ASSERT_EQ(made.status, 0) << made.err;
    for (const char *name : {"jpeg_progressive_cmyk.jpg", "jpeg_baseline_cmyk.jpg", "jpeg_progressive_444.jpg",
                             "jpeg_progressive_grey.jpg", "jpeg_metadata_first.jpg", "png_rgba.png",
                             "png_grey16.png", "bmp_rgb.bmp", "tga_rle_rgba.tga", "gif_palette.gif",
                             "pgm_16.pgm", "hdr_flat.hdr", "psd_rgb.psd"}) {
        SCOPED_TRACE(name);
        const int fd = open((dir / name).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        decode_input in;
        decode_from_file(&in, fd, true);
        std::string reason;
        image_header header;
        int w = 0, h = 0, c = 0;
        const bool sized = decode_begin(&in, &reason) && decode_header(in, &header);
        codec_reset_peak();
        unsigned char *pixels = sized ? decode_pixels(&in, &w, &h, &c, &reason) : nullptr;
        close(fd);
        ASSERT_TRUE(sized);
        ASSERT_NE(pixels, nullptr) << reason;
        decode_free(pixels);
        EXPECT_EQ(w, 1024);
        EXPECT_EQ(h, 1024);
        EXPECT_LE(codec_peak_memory(), decoder_memory_budget(&header) - decoder_memory_allowance + (1 << 20));
    }
    remove_temp_dir(dir);
}

// The peak counts what was held at once: at least the image, and a second
// decode after the first image was freed doesn't raise it.
TEST(codec, the_peak_is_what_the_decoder_held_at_once)
{
    std::vector<unsigned char> bytes;
    int w = 0, h = 0, c = 0;
    std::string reason;
    codec_reset_peak();
    std::size_t peaks[2] = {};
    for (std::size_t &peak : peaks) {
        unsigned char *pixels = decode_fixture("rgb.bmp", &bytes, &w, &h, &c, &reason);
        ASSERT_NE(pixels, nullptr) << reason;
        peak = codec_peak_memory();
        decode_free(pixels);
    }
    EXPECT_GE(peaks[0], static_cast<std::size_t>(w) * h * c);
    EXPECT_EQ(peaks[1], peaks[0]);
}

// The decoder's conversion asserts on a channel count outside 1 to 4; the
// PIC reader reaches it, when asked for the file's own count, with a file
// whose first packet is rejected before the count is known. The call fails
// and frees its memory.
TEST(codec, a_failed_check_in_the_decoder_ends_the_decode)
{
    const std::string data = read_file(fs::path(HOSTILE_DIR) / "pic-bad-packet-assert.pic");
    struct memory {
        const unsigned char *data;
        std::size_t size, at;
    } in{reinterpret_cast<const unsigned char *>(data.data()), data.size(), 0};
    const stbi_io_callbacks io = {
        [](void *user, char *out, int size) {
            auto *m = static_cast<memory *>(user);
            const std::size_t n = std::min(m->size - m->at, static_cast<std::size_t>(size));
            std::memcpy(out, m->data + m->at, n);
            m->at += n;
            return static_cast<int>(n);
        },
        [](void *user, int n) { static_cast<memory *>(user)->at += static_cast<std::size_t>(n); },
        [](void *user) {
            auto *m = static_cast<memory *>(user);
            return m->at >= m->size ? 1 : 0;
        }};
    int w = 0, h = 0, c = 0;
    const char *reason = nullptr;
    EXPECT_EQ(codec_decode(&io, &in, 0, 0, &w, &h, &c, &reason), nullptr);
    ASSERT_NE(reason, nullptr);
    EXPECT_STREQ(reason, "the decoder found the file inconsistent");
}

TEST(codec, allocations_are_zero_filled_even_where_memory_was_used)
{
    // Dirty the heap with freed blocks of the size the decoder will ask for.
    for (int i = 0; i < 8; ++i) {
        auto *p = static_cast<unsigned char *>(std::malloc(64 * 64 * 3));
        std::memset(p, 0xa5, 64 * 64 * 3);
        std::free(p);
    }
    const std::string data = read_file(fs::path(HOSTILE_DIR) / "pnm-truncated-uninit.ppm");
    decode_input in;
    decode_from_memory(&in, reinterpret_cast<const unsigned char *>(data.data()), data.size());
    std::string reason;
    ASSERT_TRUE(decode_begin(&in, &reason));
    int w = 0, h = 0, c = 0;
    unsigned char *pixels = decode_pixels(&in, &w, &h, &c, &reason);
    ASSERT_NE(pixels, nullptr) << reason;
    ASSERT_EQ(w * h * c, 64 * 64 * 3);
    EXPECT_EQ(std::count(pixels, pixels + 10, 0x11), 10);
    EXPECT_EQ(std::count(pixels + 10, pixels + w * h * c, 0), w * h * c - 10);
    decode_free(pixels);
}

} // namespace
