// fuzzed_input: which inputs the decoding fuzz targets take, and the memory
// budget they decode under: an input that is empty, or declares an image of
// more than largest_fuzzed_pixels (which decodes right but slowly; the
// tests have shown such images handled), is skipped; the budget is the one
// the confined decoder gets for the size the input declares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/decode.h"
#include "decode/budget.h"

constexpr std::uint64_t largest_fuzzed_pixels = 2u << 20;

inline bool fuzzed_input(const std::uint8_t *data, std::size_t size, std::uint64_t *budget)
{
    decode_input in;
    decode_from_memory(&in, data, size);
    std::string reason;
    if (!decode_begin(&in, &reason))
        return false;
    image_header header;
    const bool sized = decode_header(in, &header);
    if (sized && static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height) >
                     largest_fuzzed_pixels)
        return false;
    *budget = decoder_memory_budget(sized ? &header : nullptr);
    return true;
}
