#include <cstdlib>
#include <cstring>

#include "frames/row_kernels.h"

const RowKernels* RowKernels_sse2();
const RowKernels* RowKernels_avx2();
const RowKernels* RowKernels_avx512();

const char* SimdLevelName(SimdLevel level) {
    switch (level) {
        case SimdLevel::scalar: return "scalar";
        case SimdLevel::sse2: return "sse2";
        case SimdLevel::avx2: return "avx2";
        case SimdLevel::avx512: return "avx512";
    }
    return "?";
}

SimdLevel HighestCpuLevel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
        return SimdLevel::avx512;
    if (__builtin_cpu_supports("avx2")) return SimdLevel::avx2;
    if (__builtin_cpu_supports("sse2")) return SimdLevel::sse2;
    return SimdLevel::scalar;
}

const RowKernels* RowKernelsFor(SimdLevel level) {
    if (static_cast<int>(level) > static_cast<int>(HighestCpuLevel())) return nullptr;
    switch (level) {
        case SimdLevel::scalar: return &ReferenceRowKernels();
        case SimdLevel::sse2: return RowKernels_sse2();
        case SimdLevel::avx2: return RowKernels_avx2();
        case SimdLevel::avx512: return RowKernels_avx512();
    }
    return nullptr;
}

const RowKernels& SelectRowKernels() {
    SimdLevel level = HighestCpuLevel();
    if (const char* forced = std::getenv("TAVRICK_SIMD")) {
        for (int i = 0; i < simdLevelCount; ++i) {
            const auto candidate = static_cast<SimdLevel>(i);
            if (std::strcmp(forced, SimdLevelName(candidate)) == 0 &&
                static_cast<int>(candidate) < static_cast<int>(level))
                level = candidate;
        }
    }
    return *RowKernelsFor(level);
}
