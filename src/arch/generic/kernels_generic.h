// kernels_generic: the passes' and the row filters' block kernels written
// once with GCC's vector extensions (vector_generic.h), for the
// architectures without instruction-set files of their own.
//
// remap_blocks_generic, png_filter_costs_generic and png_filter_row_generic
// do what their x86-64 forms do (arch/x86/remap_x86.h,
// arch/x86/png_filter_x86.h), 16 bytes a block, and the tests hold them to
// the same definitions. PIXREMAP_GENERIC_VECTORS says whether the kernel
// table (arch/kernels.h) chooses them: where the target's baseline has
// 16-byte vector registers (arm64's NEON, ppc64el's VSX, x86-64's SSE2 in
// a build without its own kernels) and its byte order is little-endian, as
// the kernels' lanes are. armhf's baseline promises no NEON: these files
// are built for NEON there, and the table chooses them where the processor
// has it (arch/arm/cpu_features.h). Elsewhere (i386 and armel, whose
// baselines have no vector unit, the MIPS pair, s390x) GCC would lower the
// vectors to plain code a lane at a time, slower than the one-byte loops
// it vectorises or unrolls itself, so those loops stay.
#pragma once

#include <cstddef>
#include <cstdint>

#include "remap/remap.h"

#if (defined(__ARM_NEON) || defined(__VSX__) || defined(__SSE2__)) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define PIXREMAP_GENERIC_VECTORS 1
#endif

std::size_t remap_blocks_generic(unsigned char *data, std::size_t bytes, byte_map map, int channels);
std::size_t png_filter_costs_generic(const unsigned char *row, const unsigned char *above,
                                     std::size_t start, std::size_t end, int channels,
                                     std::uint64_t costs[5]);
std::size_t png_filter_row_generic(int filter, const unsigned char *row, const unsigned char *above,
                                   std::size_t start, std::size_t end, int channels, unsigned char *out);
