#include "frames/tables.h"

#include <cmath>
#include <cstdlib>

namespace {

void* obtainFromHeap(std::size_t bytes) { return std::malloc(bytes); }
void releaseToHeap(void* block) { std::free(block); }

constexpr double pi = 3.141592653589793;

// Allocates `count` arrays of 4097 doubles behind one pointer record, or
// releases whatever it got and returns null.
double** obtainTapArrays(int count, const TableMemory& memory) {
    auto** arrays = static_cast<double**>(memory.obtain(sizeof(double*) * count));
    if (!arrays) return nullptr;
    for (int i = 0; i < count; ++i) {
        arrays[i] = static_cast<double*>(memory.obtain(sizeof(double) * tapEntries));
        if (!arrays[i]) {
            for (int j = 0; j < i; ++j) memory.release(arrays[j]);
            memory.release(arrays);
            return nullptr;
        }
    }
    return arrays;
}

void releaseTapArrays(double**& arrays, int count, const TableMemory& memory) {
    if (!arrays) return;
    for (int i = 0; i < count; ++i) memory.release(arrays[i]);
    memory.release(arrays);
    arrays = nullptr;
}

}  // namespace

const TableMemory& DefaultTableMemory() {
    static const TableMemory heap{obtainFromHeap, releaseToHeap};
    return heap;
}

bool buildBlendTable(BlendTable& table, const TableMemory& memory) {
    auto** rows = static_cast<std::int16_t**>(memory.obtain(sizeof(std::int16_t*) * blendRowCount));
    if (!rows) return false;
    for (int a = 0; a < blendRowCount; ++a) {
        rows[a] = static_cast<std::int16_t*>(memory.obtain(sizeof(std::int16_t) * blendColumnCount));
        if (!rows[a]) {
            for (int b = 0; b < a; ++b) memory.release(rows[b]);
            memory.release(rows);
            return false;
        }
    }
    // Every column walks the same accumulated weights; the drift of the sum
    // below a/255 is part of the table.
    for (int j = 0; j < blendColumnCount; ++j) {
        const double n = static_cast<double>(j - 255);
        double w = 0.0;
        for (int a = 0; a < blendRowCount; ++a) {
            rows[a][j] = static_cast<std::int16_t>(n * w);
            w += blendStep;
        }
    }
    table.rows = rows;
    return true;
}

bool buildSineTable(SineTable& table, const TableMemory& memory) {
    auto* entries = static_cast<std::uint8_t*>(memory.obtain(blendRowCount));
    if (!entries) return false;
    double x = 0.0;
    int i = 0;
    for (;;) {
        const double c = std::cos(x * pi);
        entries[i] = static_cast<std::uint8_t>((0.5 - c * 0.5) * 255.0);
        x += blendStep;
        if (x > 1.0) break;
        ++i;
    }
    table.entries = entries;
    return true;
}

double sinc(double x) {
    if (x == 0.0) return 1.0;
    const double p = x * pi;
    return std::sin(p) / p;
}

double LanczosWeight(double d) {
    if (d < 0) return sinc(d * -0.3333333333333333) * sinc(-d);
    return sinc(d * 0.3333333333333333) * sinc(d);
}

double CubicWeight(double d) {
    double v;
    if (d < -1) {
        const double u = d + 2;
        v = u * u * u;
    } else if (d < 0) {
        v = (-6 - 3 * d) * d * d + 4;
    } else if (d < 1) {
        v = (3 * d - 6) * d * d + 4;
    } else {
        const double u = 2 - d;
        v = u * u * u;
    }
    return v * 0.16666666666666666;
}

bool buildLanczosTable(LanczosTable& table, const TableMemory& memory) {
    double** arrays = obtainTapArrays(5, memory);
    if (!arrays) return false;
    double t = 0.0;
    for (int k = 0; k < tapEntries; ++k) {
        const double l0 = LanczosWeight(1 + t);
        const double l1 = LanczosWeight(t);
        const double l2 = LanczosWeight(t - 1);
        const double l3 = LanczosWeight(t - 2);
        arrays[0][k] = l0;
        arrays[1][k] = l1;
        arrays[2][k] = l2;
        arrays[3][k] = l3;
        const double sum = ((l0 + l1) + l2) + l3;
        arrays[4][k] = (sum == 0.0 || sum == 1.0) ? 1.0 : 1.0 / sum;
        t += 0.000244140625;
    }
    table.arrays = arrays;
    return true;
}

bool buildCubicTable(CubicTable& table, const TableMemory& memory) {
    double** taps = obtainTapArrays(4, memory);
    if (!taps) return false;
    double t = 0.0;
    for (int k = 0; k < tapEntries; ++k) {
        taps[0][k] = CubicWeight(1 + t);
        taps[1][k] = CubicWeight(t);
        taps[2][k] = CubicWeight(t - 1);
        taps[3][k] = CubicWeight(t - 2);
        t += 0.000244140625;
    }
    table.taps = taps;
    return true;
}

void ReleaseBlendTable(BlendTable& table, const TableMemory& memory) {
    if (!table.rows) return;
    for (int a = 0; a < blendRowCount; ++a) memory.release(table.rows[a]);
    memory.release(table.rows);
    table.rows = nullptr;
}

void ReleaseSineTable(SineTable& table, const TableMemory& memory) {
    if (table.entries) memory.release(table.entries);
    table.entries = nullptr;
}

void ReleaseCubicTable(CubicTable& table, const TableMemory& memory) { releaseTapArrays(table.taps, 4, memory); }

void ReleaseLanczosTable(LanczosTable& table, const TableMemory& memory) { releaseTapArrays(table.arrays, 5, memory); }
