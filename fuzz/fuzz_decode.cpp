// A fuzz target over pixremap's whole run in memory: decode the bytes as an
// image, rewrite them through both maps and write both PNGs to memory,
// under the same memory budget the confined decoder gets; each PNG must be
// stb_image_write's, byte for byte. Built with
// libFuzzer by fuzz/run.sh; the normal build links it with replay.cpp
// instead, which runs it over files (the regression files in tests/hostile).
//
// The decode runs twice, once after filling freed heap memory and the stack
// below the call with one byte and once with another, and both must give
// the same result: a decoder that reads memory the file didn't fill shows
// up as a crash here.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decode/codec.h"
#include "decode/decode.h"
#include "dirty_memory.h"
#include "fuzzed_input.h"
#include "decode/budget.h"
#include "memory_png.h"
#include "remap/remap.h"
#include "stb_write.h"

namespace {

// stb_image_write under the sanitizers takes about ten seconds for a
// 1 MP photograph, which would stop a long campaign on a correct input. The
// whole image is written by pixremap's writer; stb_image_write is compared
// with on at most this many bytes of it: the whole image when it is that
// small, else its top-left corner (whole rows where they fit), which is
// still a real decoded image with the file's own content.
constexpr std::size_t largest_compared = 256u << 10;
constexpr std::size_t widest_compared_row = 4096;

std::string written(const unsigned char *pixels, int width, int height, int channels)
{
    std::string png = png_in_memory(pixels, width, height, channels);
    if (png.empty()) {
        std::fprintf(stderr, "fuzz_decode: the PNG writer failed on %dx%dx%d\n", width, height, channels);
        std::abort();
    }
    return png;
}

void compare(const unsigned char *pixels, int width, int height, int channels)
{
    const std::string ours = written(pixels, width, height, channels);
    int size = 0;
    unsigned char *theirs = reference_png(pixels, width, height, channels, &size);
    const bool same = theirs && ours.size() == static_cast<std::size_t>(size) &&
                      std::memcmp(ours.data(), theirs, ours.size()) == 0;
    std::free(theirs);
    if (!same) {
        std::fprintf(stderr, "fuzz_decode: the PNG of %dx%dx%d differs from stb_image_write's\n",
                     width, height, channels);
        std::abort();
    }
}

// Writes the PNG, and holds it (or its corner) to stb_image_write's.
void write_and_compare(const unsigned char *pixels, int width, int height, int channels)
{
    const auto c = static_cast<std::size_t>(channels);
    const auto row = static_cast<std::size_t>(width) * c;
    if (row * static_cast<std::size_t>(height) <= largest_compared) {
        compare(pixels, width, height, channels);
        return;
    }
    written(pixels, width, height, channels);
    const int corner_width = static_cast<int>(std::min(row, widest_compared_row) / c);
    const auto corner_row = static_cast<std::size_t>(corner_width) * c;
    const int corner_height = static_cast<int>(
        std::min(static_cast<std::size_t>(height), largest_compared / corner_row));
    std::vector<unsigned char> corner(corner_row * static_cast<std::size_t>(corner_height));
    for (int y = 0; y < corner_height; ++y)
        std::memcpy(corner.data() + static_cast<std::size_t>(y) * corner_row,
                    pixels + static_cast<std::size_t>(y) * row, corner_row);
    compare(corner.data(), corner_width, corner_height, channels);
}

struct decoded_image {
    unsigned char *pixels = nullptr;
    int width = 0, height = 0, channels = 0;
    std::string reason;
};

// Decodes the input from its start, on memory filled with pattern.
decoded_image decode_on(unsigned char pattern, const std::uint8_t *data, std::size_t size)
{
    decoded_image image;
    decode_input in;
    decode_from_memory(&in, data, size);
    dirty_heap(pattern);
    dirty_stack(pattern);
    image.pixels = decode_pixels(&in, &image.width, &image.height, &image.channels, &image.reason);
    return image;
}

bool same(const decoded_image &a, const decoded_image &b)
{
    if (!a.pixels || !b.pixels)
        return !a.pixels && !b.pixels && a.reason == b.reason;
    return a.width == b.width && a.height == b.height && a.channels == b.channels &&
           std::memcmp(a.pixels, b.pixels,
                       static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.height) *
                           static_cast<std::size_t>(a.channels)) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::uint64_t budget = 0;
    if (!fuzzed_input(data, size, &budget))
        return 0;
    codec_limit_memory(budget);
    const decoded_image image = decode_on(0x5a, data, size);
    const decoded_image again = decode_on(0xa5, data, size);
    codec_limit_memory(~0ull);
    if (!same(image, again)) {
        std::fprintf(stderr, "fuzz_decode: the decoded image depends on what memory held before\n");
        std::abort();
    }
    decode_free(again.pixels);
    if (!image.pixels)
        return 0;

    const int width = image.width, height = image.height, channels = image.channels;
    unsigned char *pixels = image.pixels;
    remap_pixels(pixels, width, height, channels, byte_map::digit);
    write_and_compare(pixels, width, height, channels);
    remap_pixels(pixels, width, height, channels, byte_map::bit);
    write_and_compare(pixels, width, height, channels);
    decode_free(pixels);
    return 0;
}
