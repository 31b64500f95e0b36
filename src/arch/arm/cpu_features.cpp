// cpu_features: see cpu_features.h.
#include "arch/arm/cpu_features.h"

#include <sys/auxv.h>

namespace {

unsigned ask_the_kernel()
{
    return (getauxval(AT_HWCAP) & HWCAP_ARM_NEON) != 0 ? unsigned{arm_neon} : 0u;
}

} // namespace

unsigned arm_cpu_features()
{
    static const unsigned features = ask_the_kernel();
    return features;
}
