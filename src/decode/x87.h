// x87: the precision i386's floating point rounds to while stb decodes a
// PSD. i386's baseline has no SSE2, so its float arithmetic is the x87's in
// extended precision, and the PSD reader's matte removal comes out other
// than on every machine with float arithmetic of its own (decode.cpp says
// more); with the x87 rounding each step to float it comes out the same.
//
//     const fpu_control_t before = x87_round_to_float();
//     ... decode ...
//     x87_restore(before);
//
// Only on i386; the decoder and the tests' own stb decode both use it.
#pragma once

#if defined(__i386__)
#include <fpu_control.h>

inline fpu_control_t x87_round_to_float()
{
    fpu_control_t before;
    _FPU_GETCW(before);
    const fpu_control_t single = (before & ~_FPU_EXTENDED) | _FPU_SINGLE;
    _FPU_SETCW(single);
    return before;
}

inline void x87_restore(fpu_control_t before)
{
    _FPU_SETCW(before);
}
#endif
