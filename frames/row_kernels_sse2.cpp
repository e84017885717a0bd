// Fast loops compiled for sse2 (flags set in CMakeLists.txt).
#define TAVRICK_FAST_NAMESPACE fast_sse2
#include "frames/row_kernels_fast.inc"

void OverrideRowKernels_sse2(RowKernels& k) {
    using namespace fast_sse2;
    // The vectorised generic Lansin is no faster than the reference here.
    k.blend = blend;
    k.cubic = cubic;
    k.lanczos = lanczos;
    k.median3 = median3;
    k.median5 = median5;
}
