// The motion warp for SSE2: the grid mixed a cell at a time and the
// positions in vector loops (flags set in CMakeLists.txt); the samples
// stay one pixel at a time, as SSE2 has no gathers.
#define TAVRICK_WARP_NAMESPACE warp_sse2
#include "frames/motion_warp_row.inc"

void OverrideMotionWarp_sse2(RowKernels& k) { k.motionWarp = warp_sse2::WarpRowByPixel; }
