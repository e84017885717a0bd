// Shared helpers of the frame tests: built tables, guarded and misaligned
// buffers, and a replayable random seed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frames/kernels.h"

inline const KernelTables& Tables() {
    static KernelTables tables;
    static const bool built = BuildKernelTables(tables);
    EXPECT_TRUE(built);
    return tables;
}

// TAVRICK_TEST_SEED replays a failing run; otherwise a fresh seed.
inline std::uint32_t TestSeed() {
    static const std::uint32_t seed = [] {
        if (const char* s = std::getenv("TAVRICK_TEST_SEED"))
            return static_cast<std::uint32_t>(std::strtoul(s, nullptr, 10));
        return static_cast<std::uint32_t>(std::random_device{}());
    }();
    return seed;
}
inline std::string SeedNote() { return "replay with TAVRICK_TEST_SEED=" + std::to_string(TestSeed()); }

constexpr std::size_t guardBytes = 64;
constexpr std::uint8_t guardValue = 0xA5;

// A buffer whose data starts `misalign` bytes past a 64-byte boundary, with
// guard bytes on both sides.
struct GuardedBuffer {
    std::vector<std::uint8_t> storage;
    std::uint8_t* data = nullptr;
    std::size_t size = 0;

    GuardedBuffer(std::size_t bytes, std::size_t misalign)
        : storage(bytes + 2 * guardBytes + 128, guardValue), size(bytes) {
        auto base = reinterpret_cast<std::uintptr_t>(storage.data()) + guardBytes;
        base = (base + 63) & ~std::uintptr_t{63};
        data = reinterpret_cast<std::uint8_t*>(base + misalign);
    }
    bool GuardsIntact() const {
        for (std::size_t i = 1; i <= guardBytes; ++i)
            if (data[-static_cast<std::ptrdiff_t>(i)] != guardValue || data[size + i - 1] != guardValue) return false;
        return true;
    }
    void Fill(std::mt19937& rng) {
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(rng());
    }
};
