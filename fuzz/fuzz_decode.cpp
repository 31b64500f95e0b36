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
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec.h"
#include "decode.h"
#include "dirty_memory.h"
#include "load.h"
#include "memory_png.h"
#include "remap.h"
#include "stb_write.h"

namespace {

// Images this large decode correctly but slowly; the run has shown they
// are handled, and fuzzing them would only report slowness.
constexpr std::uint64_t largest_fuzzed_pixels = 4u << 20;

// Images stb_image_write can't encode (its sizes are 32-bit) or that would
// take it long are written without the comparison.
constexpr std::uint64_t largest_compared = 64u << 20;

// Writes the PNG and holds it to stb_image_write's.
void write_and_compare(const unsigned char *pixels, int width, int height, int channels)
{
    const std::string ours = png_in_memory(pixels, width, height, channels);
    if (ours.empty()) {
        std::fprintf(stderr, "fuzz_decode: the PNG writer failed\n");
        std::abort();
    }
    const auto bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) *
                       static_cast<std::uint64_t>(channels);
    if (bytes > largest_compared)
        return;
    int size = 0;
    unsigned char *theirs = reference_png(pixels, width, height, channels, &size);
    const bool same = theirs && ours.size() == static_cast<std::size_t>(size) &&
                      std::memcmp(ours.data(), theirs, ours.size()) == 0;
    std::free(theirs);
    if (!same) {
        std::fprintf(stderr, "fuzz_decode: the PNG differs from stb_image_write's\n");
        std::abort();
    }
}

struct decoded_image {
    unsigned char *pixels = nullptr;
    int width = 0, height = 0, channels = 0;
    std::string reason;
};

// Decodes from the start of the input, on memory filled with pattern.
decoded_image decode_on(unsigned char pattern, decode_input in)
{
    decoded_image image;
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
    decode_input in;
    decode_from_memory(&in, data, size);
    std::string reason;
    if (!decode_begin(&in, &reason))
        return 0;
    image_header header;
    const bool sized = decode_header(in, &header);
    if (sized && static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height) >
                     largest_fuzzed_pixels)
        return 0;
    codec_limit_memory(decoder_memory_budget(sized ? &header : nullptr));
    const decoded_image image = decode_on(0x5a, in);
    const decoded_image again = decode_on(0xa5, in);
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
    remap_pixels<digit_remap>(pixels, width, height, channels);
    write_and_compare(pixels, width, height, channels);
    remap_pixels<bit_remap>(pixels, width, height, channels);
    write_and_compare(pixels, width, height, channels);
    decode_free(pixels);
    return 0;
}
