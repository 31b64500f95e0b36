// confine: what the decoder process does to itself before it reads a byte
// of the file, and once it knows the file's size: the seccomp policy of
// each architecture, and the limits.
//
//     confine_decoder(input_fd, report_fd, parent, run_time)   step 1
//     limit_decoder(budget)                                    step 2
//
// After confine_decoder the process may only read input_fd, write
// report_fd, manage its own memory (never executable), lower its own
// processor-time and address-space limits and exit; any other system call
// kills it with SIGSYS. Limits are only ever lowered, and a limit the
// system refuses to set (a seccomp filter or a service manager around the
// run) is let go here: the parent enforces the processor time itself
// (load.cpp), and the decoder's count of its allocations holds the memory
// budget without the kernel's cap behind it.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include "decode/budget.h"

// Confines the calling process, forked by `parent`, with input_fd the only
// file it may read and report_fd the only one it may write. It dies with
// `parent` (SIGKILL); if parent is already gone, it ends here (_exit)
// without another step. run_time is the run's own processor-time limit,
// read before. False if the filter can't be installed.
bool confine_decoder(int input_fd, int report_fd, pid_t parent, const rlimit &run_time);

// Sets the budget's processor time (raised from the fixed allowance or
// lowered, within the hard limit confine_decoder left) and address space
// on the confined process. Callable after confine_decoder.
void limit_decoder(const decoder_budget &budget);
