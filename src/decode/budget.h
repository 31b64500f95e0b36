// budget: what the confined decoder may spend on a file, worked out once,
// from the size its header declares, for the decoder to set on itself and
// for the parent to enforce and explain with the same figures.
//
//     decoder_budget b = decoder_budget_for(&header, run_time);   or (nullptr, ...)
//     b.memory               bytes the decoder's allocations may hold at once
//     b.address_space        the kernel's cap behind that count
//     b.time.soft, .hard     processor seconds: SIGXCPU at soft, SIGKILL at hard
//     b.time.run_limited     whether the run's own limit (ulimit -t) set soft
//
// A file whose size can't be read gets the fixed allowances alone. The
// budgets only ever lower the limits the run was given.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sys/resource.h>

#include "decode/decode.h"

// The decoder produces at most 2 GiB of samples (its sizes are ints). On a
// 32-bit machine the memory that hands them back shares the process's 4
// GiB (3 on a 32-bit kernel) with the decoder's own working memory, which
// needs one to three and a half times the image: a quarter of it, 1 GiB,
// leaves the decoder room for any image that size.
constexpr std::size_t decoder_largest_image =
    sizeof(void *) >= 8 ? std::size_t{1} << 31 : std::size_t{1} << 30;

// The fixed part of the memory budget: what any file gets, sized or not.
constexpr std::uint64_t decoder_memory_allowance = 64ull << 20;

struct decoder_time_limit {
    std::uint64_t soft = 0;    // SIGXCPU here
    std::uint64_t hard = 0;    // SIGKILL here
    bool run_limited = false;  // the run's own limit, lower than the budget, set soft
};

struct decoder_budget {
    std::uint64_t memory = 0;
    std::uint64_t address_space = 0;
    decoder_time_limit time;
};

// The memory alone, for decoding in-process as the decoder would (the
// tests, fuzz targets and benchmarks).
std::uint64_t decoder_memory_budget(const image_header *declared);

// The budget for a file whose header declares `declared` (null: its size
// is unknown), under the run's own processor-time limit `run_time`.
decoder_budget decoder_budget_for(const image_header *declared, const rlimit &run_time);

// The limit the decoder starts with, before it has read the header: the
// fixed allowance, with a hard limit as high as any declared size could
// raise it to.
decoder_time_limit decoder_first_time_limit(const rlimit &run_time);
