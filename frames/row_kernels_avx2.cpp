// Fast loops compiled for avx2 (flags set in CMakeLists.txt).
#define TAVRICK_FAST_NAMESPACE fast_avx2
#define TAVRICK_FAST_LEVEL SimdLevel::avx2
#include "frames/row_kernels_fast.inc"

const RowKernels* RowKernels_avx2() { return &fast_avx2::kernels; }
