// remap_neon: the pass's block kernel for arm64's NEON (see
// remap/remap_blocks.h for what a block kernel does).
#pragma once

#include <cstddef>

#include "remap/remap.h"

std::size_t remap_blocks_neon(unsigned char *data, std::size_t bytes, byte_map map, int channels);
