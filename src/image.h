// image: the one shape of image every part of pixremap passes around, and
// its size.
//
// An image is width x height pixels of `channels` 8-bit samples each
// (1 grey, 2 grey and alpha, 3 red, green, blue, 4 red, green, blue,
// alpha), interleaved, rows top to bottom and packed: width * channels
// bytes a row, no gap between rows.
//
// image_samples(width, height, channels) is its size in bytes, computed in
// 64 bits so that it can't wrap on any machine; a negative width, height or
// channel count counts as none.
#pragma once

#include <algorithm>
#include <cstdint>

constexpr std::uint64_t image_samples(int width, int height, int channels)
{
    return static_cast<std::uint64_t>(std::max(width, 0)) * static_cast<std::uint64_t>(std::max(height, 0)) *
           static_cast<std::uint64_t>(std::max(channels, 0));
}
