// memory_png: pixremap's PNG writer into a string, for the tests, the fuzz
// targets and the benchmarks, which compare it with stb_image_write's.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "png/png_write_internal.h"

inline std::string png_in_memory(const unsigned char *pixels, int width, int height, int channels,
                                 std::uint32_t largest_idat = png_largest_idat,
                                 png_scratch *scratch = nullptr)
{
    std::string bytes;
    const png_sink sink = {
        &bytes,
        [](void *context, const unsigned char *data, std::size_t size) {
            static_cast<std::string *>(context)->append(reinterpret_cast<const char *>(data), size);
            return true;
        },
        [](void *context, std::uint64_t offset, const unsigned char *data, std::size_t size) {
            std::memcpy(static_cast<std::string *>(context)->data() + offset, data, size);
            return true;
        },
        [](void *context, std::uint64_t size) {
            static_cast<std::string *>(context)->resize(static_cast<std::size_t>(size));
            return true;
        }};
    if (png_write_split(sink, pixels, width, height, channels, scratch, largest_idat) != png_write_status::written)
        bytes.clear();
    return bytes;
}
