// A fuzz target over pixremap's whole run in memory: decode the bytes as an
// image, rewrite them through both maps and encode both PNGs to memory,
// under the same memory budget the confined decoder gets. Built with
// libFuzzer by fuzz/run.sh; the normal build links it with replay.cpp
// instead, which runs it over files (the regression files in tests/hostile).
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec.h"
#include "decode.h"
#include "load.h"
#include "remap.h"
#include "save.h"

namespace {

// Images this large decode correctly but slowly; the run has shown they
// are handled, and fuzzing them would only report slowness.
constexpr std::uint64_t largest_fuzzed_pixels = 4u << 20;

void count_bytes(void *context, void *, int size)
{
    *static_cast<std::uint64_t *>(context) += static_cast<std::uint64_t>(size);
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
    codec_limit_memory(static_cast<std::size_t>(decoder_memory_budget(sized ? &header : nullptr)));

    int width = 0, height = 0, channels = 0;
    unsigned char *pixels = decode_pixels(&in, &width, &height, &channels, &reason);
    codec_limit_memory(static_cast<std::size_t>(-1));
    if (!pixels)
        return 0;
    std::uint64_t written = 0;
    remap_pixels<digit_remap>(pixels, width, height, channels);
    if (png_fits_encoder(width, height, channels))
        codec_write_png(count_bytes, &written, width, height, channels, pixels);
    remap_pixels<bit_remap>(pixels, width, height, channels);
    if (png_fits_encoder(width, height, channels))
        codec_write_png(count_bytes, &written, width, height, channels, pixels);
    decode_free(pixels);
    return 0;
}
