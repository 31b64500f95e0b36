// kernels: the one table of the vector kernels a run uses, filled once from
// what the processor has (after libdeflate's cpu_features and zlib-ng's
// functable). The pass, the row filters and the match search ask the
// table, never the processor.
//
//     const kernel_table &k = kernels();
//     done = k.remap_blocks(data, bytes, map, channels);
//
// A path is one set of kernels: the portable loops alone; the generic
// vector kernels (arch/generic/); arm64's NEON (the generic ones, with the
// pass's own); or one of x86-64's instruction sets. Each
// block kernel does the whole blocks it can and returns where it stopped
// (see remap/remap_blocks.h and png/png_filter_blocks.h); the callers do the
// rest one byte at a time, so the portable path's kernels do nothing.
//
// kernels() is the best path this build and processor have, chosen on the
// first call. A build configured with PIXREMAP_KERNEL_SWITCH (test builds:
// test.sh's, never the package's) reads the variable PIXREMAP_KERNELS then:
// "portable", "generic", "neon", "sse2", "avx2" or "avx512" takes that path if it
// runs here, so that one machine runs every path it can end to end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "remap/remap.h"

enum class kernel_path { portable, generic, neon, sse2, avx2, avx512 };

// The match search's bucket kernels (png/png_deflate_kernels.h), which
// png_deflate's encode loop inlines, built once for each form (the AVX2
// and AVX-512 ones in files of their own): which form, rather than a
// function.
enum class bucket_form { portable, generic, sse2, avx2, avx512 };

struct kernel_table {
    std::size_t (*remap_blocks)(unsigned char *data, std::size_t bytes, byte_map map, int channels);
    std::size_t (*filter_costs)(const unsigned char *row, const unsigned char *above, std::size_t start,
                                std::size_t end, int channels, std::uint64_t costs[5]);
    std::size_t (*filter_row)(int filter, const unsigned char *row, const unsigned char *above,
                              std::size_t start, std::size_t end, int channels, unsigned char *out);
    bucket_form buckets;
};

const kernel_table &kernels();

// Whether this build and processor can run `path`, and its table (only for
// a path that runs).
bool kernel_path_runs(kernel_path path);
kernel_table kernels_for(kernel_path path);
const char *kernel_path_name(kernel_path path);
