// Fast loops compiled for sse2 (flags set in CMakeLists.txt).
#define TAVRICK_FAST_NAMESPACE fast_sse2
#define TAVRICK_FAST_LEVEL SimdLevel::sse2
#include "frames/row_kernels_fast.inc"

const RowKernels* RowKernels_sse2() { return &fast_sse2::kernels; }
