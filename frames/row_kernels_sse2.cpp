// Fast loops compiled for sse2 (flags set in CMakeLists.txt).
#define TAVRICK_FAST_NAMESPACE fast_sse2
#include "frames/row_kernels_fast.inc"

const RowKernels* RowKernels_sse2() {
    using namespace fast_sse2;
    static const RowKernels kernels{SimdLevel::sse2, blend, cubic, lanczos, lansin, median3, median5};
    return &kernels;
}
