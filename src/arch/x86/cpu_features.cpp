// cpu_features: see cpu_features.h.
#include "arch/x86/cpu_features.h"

namespace {

unsigned ask_the_processor()
{
    __builtin_cpu_init();
    unsigned features = 0;
    if (__builtin_cpu_supports("avx2"))
        features |= x86_avx2;
    if (__builtin_cpu_supports("avx512bw"))
        features |= x86_avx512bw;
    return features;
}

} // namespace

unsigned x86_cpu_features()
{
    static const unsigned features = ask_the_processor();
    return features;
}
