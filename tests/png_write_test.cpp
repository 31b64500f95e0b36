// The PNG writer held to stb_image_write byte for byte: its zlib stream
// against stbi_zlib_compress on data built to reach each of stb's rules,
// whole files against stbi_write_png_to_mem on images of every layout and
// on every input file the tests keep, and the filter kernels against their
// one-byte definition.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "decode/codec.h"
#include "decode/decode.h"
#include "harness.h"
#include "decode/budget.h"
#include "memory_png.h"
#include "png/png_deflate.h"
#include "png/png_deflate_internal.h"
#include "png/png_deflate_kernels.h"
#include "png/png_filter.h"
#include "png/png_filter_internal.h"
#include "remap/remap.h"
#include "stb_write.h"

namespace {

using bytes = std::vector<unsigned char>;

// A fixed pseudo-random sequence.
struct noise_source {
    std::uint32_t state;
    unsigned char next()
    {
        state = state * 1103515245u + 12345u;
        return static_cast<unsigned char>(state >> 16);
    }
};

bytes noise(std::size_t size, std::uint32_t seed)
{
    noise_source source{seed};
    bytes out(size);
    for (auto &b : out)
        b = source.next();
    return out;
}

std::string stb_zlib(const bytes &data)
{
    int size = 0;
    unsigned char *z = reference_zlib(data.data(), static_cast<int>(data.size()), &size);
    std::string out(reinterpret_cast<char *>(z), static_cast<std::size_t>(size));
    std::free(z);
    return out;
}

// png_deflate fed the data in pieces of uneven sizes, as the PNG writer
// feeds it rows, starting again for the stored form when it says so; the
// buckets' origin moving every `origin_every` bytes, or as the writer's.
std::string our_zlib(const bytes &data, std::int32_t origin_every = 0)
{
    // One scratch for every stream of the suite, so that each is also made
    // over what the ones before it left, as a run's second output is.
    static png_deflate_scratch *const scratch = png_deflate_scratch_make();
    std::string out;
    const auto emit = [](void *context, const unsigned char *b, std::size_t n) {
        static_cast<std::string *>(context)->append(reinterpret_cast<const char *>(b), n);
        return true;
    };
    png_deflate *const z = origin_every ? png_deflate_begin_moving_origin(scratch, data.size(), emit, &out, origin_every)
                                        : png_deflate_begin(scratch, data.size(), emit, &out);
    if (!z)
        return "out of memory";
    for (int pass = 0; pass < 2; ++pass) {
        noise_source sizes{7};
        png_deflate_status status = png_deflate_status::going;
        for (std::size_t at = 0; status == png_deflate_status::going && at < data.size();) {
            std::size_t room = 0;
            unsigned char *space = png_deflate_space(z, &room);
            const std::size_t n = std::min({room, data.size() - at, std::size_t{1} + sizes.next() * 97u});
            std::memcpy(space, data.data() + at, n);
            status = png_deflate_commit(z, n);
            at += n;
        }
        if (status == png_deflate_status::going)
            status = png_deflate_finish(z);
        if (status == png_deflate_status::finished)
            break;
        if (status != png_deflate_status::restart_stored || pass == 1) {
            out = "failed";
            break;
        }
        out.clear();
        png_deflate_restart(z);
    }
    return out;
}

// Copies `length` bytes of data from `from` to `to`: a match waiting to be
// found.
void repeat(bytes *data, std::size_t from, std::size_t to, std::size_t length)
{
    std::copy(data->begin() + from, data->begin() + from + length, data->begin() + to);
}

// `count` different 3-byte sequences that share one bucket.
std::vector<bytes> colliding_triples(std::size_t count)
{
    std::vector<bytes> found;
    const unsigned char first[3] = {1, 2, 3};
    const std::uint32_t bucket = stb_hash(first);
    for (unsigned v = 0; v < (1u << 24) && found.size() < count; ++v) {
        const unsigned char triple[3] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                         static_cast<unsigned char>(v >> 16)};
        if (stb_hash(triple) == bucket)
            found.emplace_back(triple, triple + 3);
    }
    return found;
}

// Runs of similar bytes with some noise: matches of every length.
bytes smooth_noise(std::size_t size, std::uint32_t seed)
{
    bytes d(size);
    noise_source n{seed};
    for (std::size_t i = 0; i < size; ++i)
        d[i] = static_cast<unsigned char>(i / 700 + i % 5 * 9 + (n.next() & 7));
    return d;
}

// 3 MiB of smooth data, over which the window slides many times.
bytes smooth_slides()
{
    bytes d(3 << 20);
    noise_source n{4};
    for (std::size_t i = 0; i < d.size(); ++i)
        d[i] = static_cast<unsigned char>(i / 3000 + i % 7 * 3 + (n.next() & 3));
    return d;
}

struct stream_case {
    const char *name;
    std::function<bytes()> make;
    std::int32_t origin_every = 0;  // the buckets' origin moves this often; 0: every 256 MiB
};

// Streams built for each of stb's rules; every one must come out as stb's.
const stream_case stream_cases[] = {
    {"empty and tiny", [] { return bytes{}; }},
    {"one byte", [] { return bytes{42}; }},
    {"three bytes", [] { return bytes{1, 1, 1}; }},
    {"four repeated bytes", [] { return bytes{7, 7, 7, 7}; }},
    {"a run of 100000 (longest matches at distance 1)", [] { return bytes(100000, 9); }},
    {"noise: the stored form, several blocks", [] { return noise(200000, 1); }},
    {"noise of 32767 bytes: one stored block", [] { return noise(32767, 2); }},
    {"noise of 32768 bytes: two stored blocks", [] { return noise(32768, 3); }},
    {"3 MiB of smooth data: the window slides", [] { return smooth_slides(); }},
    // The move the origin makes every 256 MiB, made every 200000 bytes and
    // at every slide: positions left behind count in their buckets but are
    // never matched.
    {"3 MiB, the buckets' origin moving every 200000 bytes", [] { return smooth_slides(); }, 200000},
    {"3 MiB, the buckets' origin moving at every slide", [] { return smooth_slides(); }, 1},
    {"a 3-byte sequence at 5000 positions: buckets overflow", [] {
         bytes d = noise(40000, 5);
         for (std::size_t at = 0; at + 8 < d.size(); at += 8) {
             d[at] = 'a', d[at + 1] = 'b', d[at + 2] = 'c';
         }
         return d;
     }},
    // Streams up to 64 KiB search chains, longer ones the bucket arrays.
    {"65536 bytes: the longest searched through chains", [] { return smooth_noise(65536, 7); }},
    {"65537 bytes: the shortest searched through buckets", [] { return smooth_noise(65537, 7); }},
    {"40 different sequences in one bucket", [] {
         // Each followed by a byte of noise, in an order that repeats some
         // sooner than others: the bucket holds true matches among others.
         const auto triples = colliding_triples(40);
         bytes d;
         noise_source n{6};
         for (std::size_t k = 0; k < 6000; ++k) {
             const auto &t = triples[(k * 7 + k / 40) % triples.size()];
             d.insert(d.end(), t.begin(), t.end());
             d.push_back(n.next() & 3);
         }
         return d;
     }},
};

void PrintTo(const stream_case &c, std::ostream *out) { *out << c.name; }

class zlib_streams : public testing::TestWithParam<stream_case> {};

TEST_P(zlib_streams, are_stb_s_own)
{
    const bytes data = GetParam().make();
    EXPECT_TRUE(our_zlib(data, GetParam().origin_every) == stb_zlib(data));
}

INSTANTIATE_TEST_SUITE_P(built, zlib_streams, testing::ValuesIn(stream_cases),
                         [](const testing::TestParamInfo<stream_case> &p) { return test_name_of(p.param.name); });

// Periods 1 to 300 of noise: matches at every distance up to 300.
TEST(zlib, periodic_data_of_every_period_up_to_300)
{
    for (std::size_t period = 1; period <= 300; ++period) {
        const bytes unit = noise(period, static_cast<std::uint32_t>(period));
        bytes data;
        while (data.size() < 3000)
            data.insert(data.end(), unit.begin(), unit.end());
        ASSERT_TRUE(our_zlib(data) == stb_zlib(data)) << "period " << period;
    }
}

// A match reaches back at most 32767 bytes; the check of the next position
// (lazy matching) counts from that next position. In noise, the bytes at t
// match 3 bytes 100 back, and from t + 1 on 10 bytes match `reach` bytes
// back from t + 1. The outcome must change at the edges, and be stb's: in a
// stream long enough for the bucket arrays and in one short enough for
// chains.
TEST(zlib, matches_at_the_edges_of_the_window)
{
    for (auto [length, t] : {std::pair<std::size_t, std::size_t>{70000, 50000}, {60000, 40000}}) {
        std::vector<std::size_t> sizes;
        for (const std::size_t reach : {32766, 32767, 32768, 32769}) {
            for (const bool lazy : {false, true}) {
                SCOPED_TRACE(testing::Message() << length << " bytes, reach " << reach << (lazy ? ", lazy" : ""));
                bytes data = noise(length, 11);  // 8-bit codes only, so not stored
                for (auto &b : data)
                    b %= 144;
                if (lazy) {
                    repeat(&data, t + 1 - reach, t + 1, 10);
                    data[t - 100] = data[t];
                    repeat(&data, t + 1, t - 99, 2);  // 3 bytes alike at t - 100 ...
                    data[t - 97] = static_cast<unsigned char>(data[t + 3] + 1);  // ... and no more
                } else {
                    repeat(&data, t - reach, t, 12);
                }
                const std::string theirs = stb_zlib(data);
                EXPECT_TRUE(our_zlib(data) == theirs);
                sizes.push_back(theirs.size());
            }
        }
        // The constructions reach the edges: 32767 back is found, 32768 is not.
        EXPECT_LT(sizes[2], sizes[4]);  // reach 32767 vs 32768, plain
        EXPECT_LT(sizes[3], sizes[5]);  // the same, lazy
    }
}

// stb stores the data instead when the compressed stream would be larger
// than the stored form. In a de Bruijn sequence no 3-byte sequence comes
// twice, so nothing matches and each byte takes 8 bits (below 144) or 9
// (from 144): the number of 9-bit bytes moves the compressed size across
// that bound a bit at a time.
TEST(zlib, either_side_of_the_stored_bound)
{
    // Every pair of 32 symbols once: the Lyndon words of length 1 and 2 in
    // order, "0", "01", "02", ..., "1", "12", ...
    bytes de_bruijn;
    for (unsigned char a = 0; a < 32; ++a) {
        de_bruijn.push_back(a);
        for (unsigned char b = a + 1; b < 32; ++b)
            de_bruijn.insert(de_bruijn.end(), {a, b});
    }
    ASSERT_EQ(de_bruijn.size(), 1024u);
    int stored = 0, compressed = 0;
    for (std::size_t nine_bit = 0; nine_bit <= 60; ++nine_bit) {
        bytes data = de_bruijn;
        for (std::size_t i = 0; i < nine_bit; ++i)
            data[i] = static_cast<unsigned char>(data[i] + 144);
        const std::string theirs = stb_zlib(data);
        ASSERT_TRUE(our_zlib(data) == theirs) << nine_bit << " bytes of 9 bits";
        const bool is_stored = (theirs[2] & 6) == 0;  // the first block's type
        (is_stored ? stored : compressed) += 1;
    }
    EXPECT_GT(stored, 0);
    EXPECT_GT(compressed, 0);
}

// ---- whole files -----------------------------------------------------------

// Every image through one writer scratch, as above.
void expect_stb_bytes(const bytes &pixels, int width, int height, int channels)
{
    static png_scratch *const scratch = png_scratch_make();
    ASSERT_TRUE(png_in_memory(pixels.data(), width, height, channels, png_largest_idat, scratch) ==
                stb_png(pixels.data(), width, height, channels))
        << width << "x" << height << "x" << channels;
}

// Every layout at widths 1 to 40 on 1 to 3 rows, smooth and noisy, so that
// each filter and the ends of the vector kernels are met.
TEST(png, every_layout_and_small_size)
{
    noise_source n{21};
    for (int channels = 1; channels <= 4; ++channels)
        for (int width = 1; width <= 40; ++width)
            for (int height = 1; height <= 3; ++height) {
                bytes smooth(static_cast<std::size_t>(width) * height * channels), rough(smooth.size());
                for (std::size_t i = 0; i < smooth.size(); ++i) {
                    smooth[i] = static_cast<unsigned char>(i * 5 + (n.next() & 3));
                    rough[i] = n.next();
                }
                expect_stb_bytes(smooth, width, height, channels);
                expect_stb_bytes(rough, width, height, channels);
            }
}

// Rows longer than the 32 KiB window and than 64 KiB, flat images and rows
// that repeat with periods 1-300.
TEST(png, long_rows_flat_images_and_periodic_rows)
{
    noise_source n{22};
    for (auto [width, height, channels] : {std::tuple{11000, 3, 3}, std::tuple{16500, 2, 4},
                                           std::tuple{70000, 2, 1}}) {
        bytes pixels(static_cast<std::size_t>(width) * height * channels);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<unsigned char>(i / 97 + (n.next() & 15));
        expect_stb_bytes(pixels, width, height, channels);
        expect_stb_bytes(bytes(pixels.size(), 77), width, height, channels);
    }
    for (int period = 1; period <= 300; period += 13) {
        bytes pixels(600 * 4 * 3);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<unsigned char>((i % period) * 37);
        expect_stb_bytes(pixels, 600, 4, 3);
    }
}

// What the tool writes from every input file the tests keep, decoded as the
// tool decodes them (in this process, under the decoder's memory budget,
// so that it runs under an emulator too): both maps over the decoded image.
// A file the tests expect to decode must.
TEST(png, every_input_file_through_both_maps)
{
    for (const fs::path &file : quick_inputs()) {
        SCOPED_TRACE(file.string());
        const std::string data = read_file(file);
        decode_input in;
        decode_from_memory(&in, reinterpret_cast<const unsigned char *>(data.data()), data.size());
        image_header header;
        std::string reason;
        const bool sized = decode_begin(&in, &reason) && decode_header(in, &header);
        codec_limit_memory(decoder_memory_budget(sized ? &header : nullptr));
        int w = 0, h = 0, c = 0;
        unsigned char *pixels = reason.empty() ? decode_pixels(&in, &w, &h, &c, &reason) : nullptr;
        codec_limit_memory(~0ull);
        if (!pixels) {
            EXPECT_FALSE(expected_to_decode(file)) << reason;
            continue;
        }
        bytes image(pixels, pixels + static_cast<std::size_t>(w) * h * c);
        decode_free(pixels);
        image = apply_map(image, c, digit_remap);
        expect_stb_bytes(image, w, h, c);
        image = apply_map(image, c, bit_remap);
        expect_stb_bytes(image, w, h, c);
    }
}

// The chunks of a PNG file: type and data, in order.
std::vector<std::pair<std::string, std::string>> chunks_of(const std::string &png)
{
    std::vector<std::pair<std::string, std::string>> chunks;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const auto *b = reinterpret_cast<const unsigned char *>(png.data() + at);
        const std::size_t length = std::size_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3];
        chunks.emplace_back(png.substr(at + 4, 4), png.substr(at + 8, length));
        at += 12 + length;
    }
    return chunks;
}

// A stream too long for one chunk is split over IDAT chunks of at most the
// largest size: here chunks of a few hundred bytes stand in for 2^31 - 1.
// The stream is stb's, cut up; libpng reads the file back.
TEST(png, long_streams_split_over_idat_chunks)
{
    const fs::path dir = make_temp_dir();
    for (const std::uint32_t largest : {1u, 100u, 777u}) {
        for (const bool noisy : {false, true}) {
            SCOPED_TRACE(testing::Message() << "chunks of " << largest << (noisy ? ", noise" : ""));
            bytes pixels = noise(40 * 30 * 3, 23);
            if (!noisy)
                for (std::size_t i = 0; i < pixels.size(); ++i)
                    pixels[i] = static_cast<unsigned char>(i / 7 + (pixels[i] & 3));
            const std::string ours = png_in_memory(pixels.data(), 40, 30, 3, largest);
            std::string stream;
            std::size_t idat_chunks = 0;
            for (const auto &[type, data] : chunks_of(ours))
                if (type == "IDAT") {
                    EXPECT_LE(data.size(), largest);
                    stream += data;
                    ++idat_chunks;
                }
            EXPECT_GT(idat_chunks, 1u);
            EXPECT_TRUE(stream == chunks_of(stb_png(pixels.data(), 40, 30, 3))[1].second);
            write_file(dir / "split.png", ours);
            const decoded back = libpng_decode(dir / "split.png");
            EXPECT_EQ(back.error, "");
            EXPECT_TRUE(back.pixels == pixels);
        }
    }
    remove_temp_dir(dir);
}

// A sink that stops at its n-th call stops the writer, which says so, at
// every call of a compressed file and of a stored one (which truncates),
// each long enough that the writer has more to make after the failure.
TEST(png, a_failing_sink_stops_the_writer)
{
    struct counting {
        int calls = 0, fail_at = 0;
        static bool step(void *c)
        {
            auto *k = static_cast<counting *>(c);
            return ++k->calls != k->fail_at;
        }
    };
    bytes noisy = noise(300 * 300 * 3, 24), smooth = noisy;
    for (std::size_t i = 0; i < smooth.size(); ++i)
        smooth[i] = static_cast<unsigned char>(i / 900 + (noisy[i] & 31));
    for (const bytes *pixels : {&smooth, &noisy}) {
        for (int fail_at = 1;; ++fail_at) {
            counting k{0, fail_at};
            const png_sink sink = {
                &k, [](void *c, const unsigned char *, std::size_t) { return counting::step(c); },
                [](void *c, std::uint64_t, const unsigned char *, std::size_t) { return counting::step(c); },
                [](void *c, std::uint64_t) { return counting::step(c); }};
            const png_write_status status = png_write(sink, pixels->data(), 300, 300, 3, nullptr);
            if (k.calls < fail_at) {
                EXPECT_EQ(status, png_write_status::written);
                EXPECT_GT(fail_at, 5);
                break;
            }
            EXPECT_EQ(status, png_write_status::sink_failed) << "failing at call " << fail_at;
        }
    }
}

TEST(png, refuses_what_is_no_image)
{
    const bytes pixels(16);
    for (auto [w, h, c] : {std::tuple{0, 1, 1}, std::tuple{1, 0, 1}, std::tuple{1, 1, 0}, std::tuple{1, 1, 5}})
        EXPECT_EQ(png_write({}, pixels.data(), w, h, c, nullptr), png_write_status::not_an_image);
}

// ---- the filter kernels ------------------------------------------------------

// Every kernel the processor has, and the dispatching forms, against the
// one-byte definition: every pixel size, row lengths across the vector
// widths, first rows and others, whole rows and pieces.
TEST(filters, every_kernel_agrees_with_the_definition)
{
    const bytes above = noise(300, 31), row = noise(300, 32);
    for (int channels = 1; channels <= 4; ++channels)
        for (std::size_t length = 0; length <= 300; length += length < 80 ? 1 : 37)
            for (const unsigned char *up : {static_cast<const unsigned char *>(nullptr), above.data()}) {
                SCOPED_TRACE(testing::Message() << "channels " << channels << ", " << length << " bytes"
                                                << (up ? "" : ", first row"));
                std::uint64_t want[5], got[5];
                png_filter_costs_scalar(row.data(), up, length, channels, want);
                png_filter_costs(row.data(), up, length, channels, got);
                EXPECT_TRUE(std::equal(want, want + 5, got));
                for (int f = 0; f < 5; ++f) {
                    bytes expected(length), whole(length), pieces(length);
                    png_filter_row_scalar(f, row.data(), up, channels, 0, length, expected.data());
                    png_filter_row(f, row.data(), up, channels, 0, length, whole.data());
                    for (std::size_t at = 0; at < length; at += 7)
                        png_filter_row(f, row.data(), up, channels, at, std::min<std::size_t>(7, length - at),
                                       pieces.data() + at);
                    EXPECT_EQ(whole, expected) << "filter " << f;
                    EXPECT_EQ(pieces, expected) << "filter " << f << " in pieces";
                }
            }
}

} // namespace

#include "arch/generic/png_deflate_generic.h"
#include "arch/kernels.h"
#ifdef PIXREMAP_X86_64
#include "arch/x86/png_deflate_sse2.h"
#include "arch/x86/png_deflate_x86.h"
#endif

namespace {

using filter_paths = testing::TestWithParam<kernel_path>;

// Each path's filter kernels, whichever the filters use here, against the
// one-byte definition, from one pixel in to the end: the kernel's blocks
// only. A path this machine can't run is skipped, saying why.
TEST_P(filter_paths, agree_with_the_definition)
{
    if (!kernel_path_runs(GetParam()))
        GTEST_SKIP() << "this machine can't run the " << kernel_path_name(GetParam()) << " kernels";
    const kernel_table k = kernels_for(GetParam());
    const bytes above = noise(200, 33), row = noise(200, 34);
    for (int channels = 1; channels <= 4; ++channels)
        for (const unsigned char *up : {static_cast<const unsigned char *>(nullptr), above.data()}) {
            SCOPED_TRACE(testing::Message() << "channels " << channels << (up ? "" : ", first row"));
            std::uint64_t got[5] = {}, want[5], before[5];
            const std::size_t end = k.filter_costs(row.data(), up, channels, row.size(), channels, got);
            ASSERT_GT(end, 150u);
            png_filter_costs_scalar(row.data(), up, end, channels, want);
            png_filter_costs_scalar(row.data(), up, channels, channels, before);
            for (int f = 0; f < 5; ++f)
                EXPECT_EQ(got[f], want[f] - before[f]) << "filter " << f;
            for (int f = 0; f < 5; ++f) {
                bytes out(row.size()), expected(row.size());
                ASSERT_EQ(k.filter_row(f, row.data(), up, channels, row.size(), channels, out.data()), end);
                png_filter_row_scalar(f, row.data(), up, channels, channels, end - channels, expected.data());
                EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + (end - channels), out.begin()))
                    << "filter " << f;
            }
        }
}

// The paths with filter kernels (the portable one has none).
INSTANTIATE_TEST_SUITE_P(paths, filter_paths,
                         testing::Values(kernel_path::generic, kernel_path::neon, kernel_path::sse2,
                                         kernel_path::avx2, kernel_path::avx512),
                         [](const testing::TestParamInfo<kernel_path> &p) { return std::string(kernel_path_name(p.param)); });

} // namespace

namespace {

// A form of the match search's kernels, and the path whose instruction set
// it needs (portable: none beyond the build's).
struct bucket_kernel_form {
    const char *name;
    kernel_path needs;
    candidates (*compare_bucket)(const png_deflate_bucket &, unsigned, std::int32_t, std::uint32_t);
    void (*hash_positions)(const unsigned char *, std::size_t, std::size_t, std::uint16_t *);
};

void PrintTo(const bucket_kernel_form &k, std::ostream *out) { *out << k.name; }

using deflate_kernels = testing::TestWithParam<bucket_kernel_form>;

// Each vector form of the match search's kernels against the portable one:
// buckets of every fill, positions either side of the reach, first bytes
// that agree with the head in none, 3 or 4 bytes; and hashes at every
// start and length of a few blocks.
TEST_P(deflate_kernels, agree_with_the_portable_form)
{
    const bucket_kernel_form &k = GetParam();
    if (!kernel_path_runs(k.needs))
        GTEST_SKIP() << "this processor has no " << kernel_path_name(k.needs);
    noise_source n{35};
    for (int round = 0; round < 20000; ++round) {
        png_deflate_bucket b;
        const std::uint32_t head = n.next() | n.next() << 8 | n.next() << 16 | std::uint32_t{n.next()} << 24;
        const std::int32_t lowest = static_cast<std::int32_t>(n.next()) * 1000;
        for (int j = 0; j < 16; ++j) {
            b.position[j] = lowest + static_cast<std::int32_t>(n.next() % 5) - 2;
            const unsigned agree = n.next() % 3;
            // All four bytes, the first three only, or not the first three.
            b.head[j] = agree == 0 ? head : agree == 1 ? head ^ 0x01000000u : head ^ (1u << (n.next() % 24));
        }
        const unsigned count = 1 + n.next() % 16;
        const candidates want = portable_bucket_kernels::compare_bucket(b, count, lowest, head);
        const candidates got = k.compare_bucket(b, count, lowest, head);
        ASSERT_EQ(got.reach, want.reach) << "round " << round;
        ASSERT_EQ(got.three, want.three) << "round " << round;
        ASSERT_EQ(got.four, want.four) << "round " << round;
    }
    const bytes data = noise(200, 36);
    for (std::size_t from = 0; from < 8; ++from)
        for (std::size_t to = from; to < 180; ++to) {
            std::uint16_t want[200], got[200];
            portable_bucket_kernels::hash_positions(data.data(), from, to, want);
            k.hash_positions(data.data(), from, to, got);
            ASSERT_TRUE(std::equal(want, want + (to - from), got)) << from << " to " << to;
        }
}

INSTANTIATE_TEST_SUITE_P(
    paths, deflate_kernels,
    testing::Values(bucket_kernel_form{"generic", kernel_path::portable, generic_bucket_kernels::compare_bucket,
                                       generic_bucket_kernels::hash_positions}
#ifdef PIXREMAP_X86_64
                    ,
                    bucket_kernel_form{"sse2", kernel_path::portable, sse2_bucket_kernels::compare_bucket,
                                       sse2_bucket_kernels::hash_positions},
                    bucket_kernel_form{"avx2", kernel_path::avx2, avx2_bucket_kernels::compare_bucket,
                                       avx2_bucket_kernels::hash_positions},
                    bucket_kernel_form{"avx512", kernel_path::avx512, avx512_bucket_kernels::compare_bucket,
                                       avx512_bucket_kernels::hash_positions}
#endif
                    ),
    [](const testing::TestParamInfo<bucket_kernel_form> &p) { return std::string(p.param.name); });

} // namespace
