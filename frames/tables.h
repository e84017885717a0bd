// Weight tables of the interpolation kernels and the row resampler.
// Built once at start-up, read-only afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the builders get their memory; tests swap in a failing allocator.
struct TableMemory {
    void* (*obtain)(std::size_t bytes);
    void (*release)(void* block);
};
const TableMemory& DefaultTableMemory();

constexpr int blendRowCount = 256;
constexpr int blendColumnCount = 511;  // column j stands for the difference j - 255
constexpr int tapSteps = 4096;         // positions k / 4096, k = 0 .. 4096
constexpr int tapEntries = tapSteps + 1;

// The accumulated step of the blend and sine builders: the double nearest 1/255.
constexpr double blendStep = 0.00392156862745098;

struct BlendTable {
    std::int16_t** rows = nullptr;  // 256 separately allocated rows of 511 entries
};
struct SineTable {
    std::uint8_t* entries = nullptr;  // 256 entries
};
struct CubicTable {
    double** taps = nullptr;  // four arrays of 4097 weights
};
struct LanczosTable {
    double** arrays = nullptr;  // arrays 0..3 tap weights, array 4 the normaliser
};

bool buildBlendTable(BlendTable& table, const TableMemory& memory = DefaultTableMemory());
bool buildSineTable(SineTable& table, const TableMemory& memory = DefaultTableMemory());
bool buildCubicTable(CubicTable& table, const TableMemory& memory = DefaultTableMemory());
bool buildLanczosTable(LanczosTable& table, const TableMemory& memory = DefaultTableMemory());

// The product never frees its tables; tests and tools that build many do.
void ReleaseBlendTable(BlendTable& table, const TableMemory& memory = DefaultTableMemory());
void ReleaseSineTable(SineTable& table, const TableMemory& memory = DefaultTableMemory());
void ReleaseCubicTable(CubicTable& table, const TableMemory& memory = DefaultTableMemory());
void ReleaseLanczosTable(LanczosTable& table, const TableMemory& memory = DefaultTableMemory());

double sinc(double x);
double LanczosWeight(double d);
double CubicWeight(double d);
