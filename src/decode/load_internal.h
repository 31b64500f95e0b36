// load_internal: what load.cpp's decoder process does to itself, and the
// budgets it is given, for the tests, the fuzz target and the benchmarks to
// probe; the tool itself uses only load.h.
#pragma once

#include <cstdint>

#include "decode/decode.h"

// What the decoder process does to itself before it reads a byte: no core
// dumps, no capabilities, the fixed allowance of processor time, and a
// seccomp filter under which it may only read input_fd, write report_fd,
// manage its own memory (never executable), lower its processor-time and
// address-space limits and exit; any other system call kills it with
// SIGSYS. False if the filter can't be installed.
bool confine_decoder(int input_fd, int report_fd);

// The bytes the decoder may hold at once, for a file whose header declares
// `declared`, or null for a file whose size the decoder can't tell.
std::uint64_t decoder_memory_budget(const image_header *declared);

// The processor seconds the decoder may use, likewise.
std::uint64_t decoder_time_budget(const image_header *declared);
