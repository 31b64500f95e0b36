// cpu_features: the x86-64 instruction sets the kernels use that this
// processor has, asked once (the first call) and kept.
#pragma once

enum : unsigned { x86_avx2 = 1u << 0, x86_avx512bw = 1u << 1 };

// SSE2 is every x86-64 processor's, so it has no bit.
unsigned x86_cpu_features();
