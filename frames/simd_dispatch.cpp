#include <cstdlib>
#include <cstring>

#include "frames/row_kernels.h"

// Each level replaces, in the record inherited from the level below, only
// the loops it makes faster.
void OverrideRowKernels_sse2(RowKernels& kernels);
void OverrideRowKernels_sse41(RowKernels& kernels);
void OverrideRowKernels_avx2(RowKernels& kernels);
void OverrideRowKernels_avx512(RowKernels& kernels);

const char* SimdLevelName(SimdLevel level) {
    switch (level) {
        case SimdLevel::scalar: return "scalar";
        case SimdLevel::sse2: return "sse2";
        case SimdLevel::sse41: return "sse41";
        case SimdLevel::avx2: return "avx2";
        case SimdLevel::avx512: return "avx512";
    }
    return "?";
}

namespace {

SimdLevel QueryCpuLevel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512dq"))
        return SimdLevel::avx512;
    if (__builtin_cpu_supports("avx2")) return SimdLevel::avx2;
    if (__builtin_cpu_supports("sse4.1")) return SimdLevel::sse41;  // implies SSSE3
    if (__builtin_cpu_supports("sse2")) return SimdLevel::sse2;
    return SimdLevel::scalar;
}

struct LevelRecords {
    RowKernels level[simdLevelCount];
    LevelRecords() {
        level[0] = ReferenceRowKernels();
        void (*const overrides[simdLevelCount])(RowKernels&) = {nullptr, OverrideRowKernels_sse2,
                                                                OverrideRowKernels_sse41, OverrideRowKernels_avx2,
                                                                OverrideRowKernels_avx512};
        for (int i = 1; i < simdLevelCount; ++i) {
            level[i] = level[i - 1];
            level[i].level = static_cast<SimdLevel>(i);
            overrides[i](level[i]);
        }
    }
};

}  // namespace

SimdLevel HighestCpuLevel() {
    static const SimdLevel highest = QueryCpuLevel();
    return highest;
}

const RowKernels* RowKernelsFor(SimdLevel level) {
    static const LevelRecords records;
    if (static_cast<int>(level) < 0 || static_cast<int>(level) > static_cast<int>(HighestCpuLevel())) return nullptr;
    return &records.level[static_cast<int>(level)];
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

const RowKernels& RunRowKernels() {
    static const RowKernels& chosen = SelectRowKernels();
    return chosen;
}
