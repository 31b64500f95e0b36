// cpu_features: what this 32-bit Arm processor has of what the kernels
// use, asked once (the first call) and kept. Debian's armhf baseline
// promises a floating-point unit but not NEON, so the generic kernels,
// built for NEON there, run only where the kernel says the processor has
// it (its hardware capabilities, AT_HWCAP).
#pragma once

enum : unsigned { arm_neon = 1u << 0 };

unsigned arm_cpu_features();
