// The conversion's loops with AVX2: the vectoriser deinterleaves BGR with
// byte shuffles here, which the baseline lacks.
#include "frames/yuv420.h"

#include "frames/yuv420_loops.inc"

Yuv420Loops Yuv420Loops_avx2() { return Yuv420Loops{LumaRow, ChromaPairs, ChromaFilter}; }
