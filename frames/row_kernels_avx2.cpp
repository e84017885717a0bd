// Fast loops compiled for avx2 (flags set in CMakeLists.txt).
#define TAVRICK_FAST_NAMESPACE fast_avx2
#include "frames/row_kernels_fast.inc"

const RowKernels* RowKernels_avx2() {
    using namespace fast_avx2;
    static const RowKernels kernels{SimdLevel::avx2, blend, cubic, lanczos, lansin, median3, median5};
    return &kernels;
}
