// load_internal: what load.cpp's decoder process does to itself, and the
// budgets it is given, for the tests, the fuzz target and the benchmarks to
// probe; the tool itself uses only load.h.
#pragma once

#include <cstdint>

#include "decode/decode.h"

// Confines the calling process as the decoder confines itself before it
// reads a byte (load.cpp, step 1), with input_fd the only file it may read
// and report_fd the only one it may write; any other system call kills it
// with SIGSYS. False if the filter can't be installed.
bool confine_decoder(int input_fd, int report_fd);

// Gives the confined decoder `seconds` of processor time once the header
// is read (load.cpp, step 2): the soft limit raised from the fixed
// allowance, never past `run_soft` (the run's own soft limit, ulimit -t,
// read before confine_decoder) or the hard limit confine_decoder left, and
// the hard limit lowered to one second more.
void limit_decoder_time(std::uint64_t seconds, std::uint64_t run_soft);

// The bytes the decoder may hold at once, for a file whose header declares
// `declared`, or null for a file whose size the decoder can't tell.
std::uint64_t decoder_memory_budget(const image_header *declared);

// The processor seconds the decoder may use, likewise.
std::uint64_t decoder_time_budget(const image_header *declared);
