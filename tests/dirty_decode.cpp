// dirty_decode PATTERN FILE: decodes FILE twice, each time after filling
// freed heap memory and the stack below the call with the byte PATTERN, and
// prints what each gave: the size and a CRC-32 of the pixels, or the reason
// for the failure.
//  - "confined": as pixremap loads it (load_image), in the decoder process,
//    which starts as a copy of this one and so on the filled memory;
//  - "in process": the same decoder called here directly, with the stack
//    filled just before the call, after the header was read, so that no
//    other call has written over the filled memory.
// Two runs with different patterns must print the same lines; the
// determinism test runs it so.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include "decode/codec.h"
#include "dirty_memory.h"
#include "decode/load.h"
#include "decode/budget.h"

namespace {

void print(const char *how, const unsigned char *pixels, int width, int height, int channels,
           const std::string &reason)
{
    if (!pixels) {
        std::printf("%s: error: %s\n", how, reason.c_str());
        return;
    }
    const auto size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                      static_cast<std::size_t>(channels);
    std::printf("%s: %dx%dx%d crc32 %08lx\n", how, width, height, channels,
                crc32_z(crc32_z(0, nullptr, 0), pixels, size));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: dirty_decode PATTERN FILE\n");
        return 2;
    }
    const auto pattern = static_cast<unsigned char>(std::strtoul(argv[1], nullptr, 0));
    int width = 0, height = 0, channels = 0;
    std::string reason;

    dirty_heap(pattern);
    dirty_stack(pattern);
    unsigned char *pixels = load_image(argv[2], &width, &height, &channels, &reason);
    print("confined", pixels, width, height, channels, reason);
    if (pixels)
        release_image(pixels, width, height, channels);

    const int fd = open(argv[2], O_RDONLY);
    decode_input in;
    decode_from_file(&in, fd, true);
    if (fd < 0 || !decode_begin(&in, &reason)) {
        std::printf("in process: cannot read\n");
        return 0;
    }
    image_header header;
    const bool sized = decode_header(in, &header);
    codec_limit_memory(decoder_memory_budget(sized ? &header : nullptr));
    dirty_heap(pattern);
    dirty_stack(pattern);
    pixels = decode_pixels(&in, &width, &height, &channels, &reason);
    print("in process", pixels, width, height, channels, reason);
    if (pixels)
        decode_free(pixels);
    close(fd);
    return 0;
}
