// A differential fuzz target for the PNG writer: the input is an image, and
// the PNG file pixremap's writer makes of it must be, byte for byte, the one
// stb_image_write makes. Built with libFuzzer by fuzz/run.sh; the normal
// build links it with replay.cpp, and CTest runs it over every fixture,
// regression file and PngSuite image as raw bytes.
//
// The input: one byte for the channels (1 + its low 2 bits) and how many
// times the rest is repeated (1 + its high 6 bits, so that matches reach far
// back); two bytes for the width (1 to 4096); the rest, repeated, are the
// pixels, as many whole rows as they fill (a shorter width if they don't
// fill one).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "memory_png.h"
#include "stb_write.h"

namespace {

// stb_image_write takes about 4 bytes of memory and a quarter of a second
// per megabyte; larger images are cut to this.
constexpr std::size_t largest_image = 4u << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    const int channels = 1 + (data[0] & 3);
    const std::size_t repeats = 1 + (data[0] >> 2);
    int width = 1 + ((data[1] | data[2] << 8) & 4095);
    const std::uint8_t *seed = data + 3;
    const std::size_t seed_size = size - 3;

    std::vector<unsigned char> pixels;
    for (std::size_t k = 0; k < repeats && pixels.size() + seed_size <= largest_image; ++k)
        pixels.insert(pixels.end(), seed, seed + seed_size);
    const auto c = static_cast<std::size_t>(channels);
    if (pixels.size() < c)
        return 0;
    if (static_cast<std::size_t>(width) * c > pixels.size())
        width = static_cast<int>(pixels.size() / c);
    const int height = static_cast<int>(pixels.size() / (static_cast<std::size_t>(width) * c));

    // One writer scratch for every input, so that each image is also
    // written over what the ones before it left.
    static png_scratch *const scratch = png_scratch_make();
    const std::string ours = png_in_memory(pixels.data(), width, height, channels, png_largest_idat, scratch);
    int theirs_size = 0;
    unsigned char *theirs = reference_png(pixels.data(), width, height, channels, &theirs_size);
    const bool same = theirs && ours.size() == static_cast<std::size_t>(theirs_size) &&
                      std::memcmp(ours.data(), theirs, ours.size()) == 0;
    std::free(theirs);
    if (!same) {
        std::fprintf(stderr, "fuzz_png_write: %dx%dx%d: %zu bytes, stb_image_write's %d, not the same\n",
                     width, height, channels, ours.size(), theirs_size);
        std::abort();
    }
    return 0;
}
