// Fast loops compiled for avx512 (flags set in CMakeLists.txt).
#define TAVRICK_FAST_NAMESPACE fast_avx512
#define TAVRICK_FAST_LEVEL SimdLevel::avx512
#include "frames/row_kernels_fast.inc"

const RowKernels* RowKernels_avx512() { return &fast_avx512::kernels; }
