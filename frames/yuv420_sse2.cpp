// The conversion's loops at the baseline level.
#include "frames/yuv420.h"

#include "frames/yuv420_loops.inc"

Yuv420Loops Yuv420Loops_sse2() { return Yuv420Loops{Row, ChromaFilter}; }
