// kernels: see kernels.h.
#include "arch/kernels.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "arch/generic/kernels_generic.h"
#ifdef PIXREMAP_ARM_NEON_BY_HWCAP
#include "arch/arm/cpu_features.h"
#endif
#ifdef PIXREMAP_ARM64
#include "arch/arm/remap_neon.h"
#endif
#ifdef PIXREMAP_X86_64
#include "arch/x86/cpu_features.h"
#include "arch/x86/png_filter_x86.h"
#include "arch/x86/remap_x86.h"
#endif

namespace {

std::size_t remap_none(unsigned char *, std::size_t, byte_map, int) { return 0; }

std::size_t costs_none(const unsigned char *, const unsigned char *, std::size_t start, std::size_t, int,
                       std::uint64_t[5])
{
    return start;
}

std::size_t row_none(int, const unsigned char *, const unsigned char *, std::size_t start, std::size_t, int,
                     unsigned char *)
{
    return start;
}

#ifdef PIXREMAP_X86_64
// AVX-512 pays for the digit map only: the bit map is at memory speed with
// AVX2 already, and slower at 64 bytes where it blends in alpha.
std::size_t remap_widest(unsigned char *data, std::size_t bytes, byte_map map, int channels)
{
    switch (map) {
    case byte_map::digit: return remap_blocks_avx512(data, bytes, map, channels);
    case byte_map::bit: return remap_blocks_avx2(data, bytes, map, channels);
    }
    return 0;
}
#endif

// The best path that runs here: x86-64's widest set, or arm64's NEON; else
// the generic kernels where the target has vectors (they run on any
// little-endian machine, but pay only there: kernels_generic.h), or on
// armhf where the processor has NEON; else the portable loops.
kernel_path best_path()
{
#if defined(PIXREMAP_X86_64)
    for (const kernel_path path : {kernel_path::avx512, kernel_path::avx2})
        if (kernel_path_runs(path))
            return path;
    return kernel_path::sse2;
#elif defined(PIXREMAP_ARM64)
    return kernel_path::neon;
#elif defined(PIXREMAP_GENERIC_VECTORS)
    return kernel_path::generic;
#elif defined(PIXREMAP_ARM_NEON_BY_HWCAP)
    return kernel_path_runs(kernel_path::generic) ? kernel_path::generic : kernel_path::portable;
#else
    return kernel_path::portable;
#endif
}

kernel_table choose()
{
    kernel_path path = best_path();
#ifdef PIXREMAP_KERNEL_SWITCH
    if (const char *wanted = std::getenv("PIXREMAP_KERNELS"))
        for (const kernel_path p : {kernel_path::portable, kernel_path::generic, kernel_path::neon,
                                    kernel_path::sse2, kernel_path::avx2, kernel_path::avx512})
            if (std::strcmp(wanted, kernel_path_name(p)) == 0 && kernel_path_runs(p))
                path = p;
#endif
    return kernels_for(path);
}

} // namespace

bool kernel_path_runs(kernel_path path)
{
    switch (path) {
    case kernel_path::portable: return true;
#ifdef PIXREMAP_ARM_NEON_BY_HWCAP
    case kernel_path::generic: return (arm_cpu_features() & arm_neon) != 0;
#else
    case kernel_path::generic: return std::endian::native == std::endian::little;
#endif
#ifdef PIXREMAP_ARM64
    case kernel_path::neon: return true;
#else
    case kernel_path::neon: return false;
#endif
#ifdef PIXREMAP_X86_64
    case kernel_path::sse2: return true;
    case kernel_path::avx2: return (x86_cpu_features() & x86_avx2) != 0;
    case kernel_path::avx512: return (x86_cpu_features() & (x86_avx2 | x86_avx512bw)) == (x86_avx2 | x86_avx512bw);
#else
    case kernel_path::sse2:
    case kernel_path::avx2:
    case kernel_path::avx512: return false;
#endif
    }
    return false;
}

kernel_table kernels_for(kernel_path path)
{
    switch (path) {
    case kernel_path::portable: return {remap_none, costs_none, row_none, bucket_form::portable};
#ifdef PIXREMAP_ARM_NEON_BY_HWCAP
    // The match search is inlined into the deflate, which is built for
    // armhf's baseline: without NEON, its loops are the faster form.
    case kernel_path::generic:
        return {remap_blocks_generic, png_filter_costs_generic, png_filter_row_generic, bucket_form::portable};
#else
    case kernel_path::generic:
        return {remap_blocks_generic, png_filter_costs_generic, png_filter_row_generic, bucket_form::generic};
#endif
#ifdef PIXREMAP_ARM64
    // The filters and the match search compile to NEON as they stand.
    case kernel_path::neon:
        return {remap_blocks_neon, png_filter_costs_generic, png_filter_row_generic, bucket_form::generic};
#else
    case kernel_path::neon: break;
#endif
#ifdef PIXREMAP_X86_64
    case kernel_path::sse2: return {remap_blocks_sse2, png_filter_costs_sse2, png_filter_row_sse2, bucket_form::sse2};
    case kernel_path::avx2: return {remap_blocks_avx2, png_filter_costs_avx2, png_filter_row_avx2, bucket_form::avx2};
    case kernel_path::avx512: return {remap_widest, png_filter_costs_avx2, png_filter_row_avx2, bucket_form::avx512};
#else
    case kernel_path::sse2:
    case kernel_path::avx2:
    case kernel_path::avx512: break;
#endif
    }
    return {remap_none, costs_none, row_none, bucket_form::portable};
}

const char *kernel_path_name(kernel_path path)
{
    switch (path) {
    case kernel_path::portable: return "portable";
    case kernel_path::generic: return "generic";
    case kernel_path::neon: return "neon";
    case kernel_path::sse2: return "sse2";
    case kernel_path::avx2: return "avx2";
    case kernel_path::avx512: return "avx512";
    }
    return "?";
}

const kernel_table &kernels()
{
    static const kernel_table table = choose();
    return table;
}
