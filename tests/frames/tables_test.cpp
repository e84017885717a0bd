#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>

#include "frame_fixtures.h"
#include "frames/tables.h"

namespace {

TEST(BlendTable, KnownEntriesAndDrift) {
    const auto& rows = Tables().blend.rows;
    EXPECT_EQ(rows[1][510], 1);
    EXPECT_EQ(rows[128][510], 127);
    EXPECT_EQ(rows[128][0], -127);
    EXPECT_EQ(rows[255][510], 254);
    EXPECT_EQ(rows[255][0], -254);
    EXPECT_EQ(rows[33][510], 32);
    int drifted = 0;
    for (int a = 0; a < 256; ++a) {
        EXPECT_EQ(rows[a][255], 0) << "row " << a;
        for (int j = 0; j < 511; ++j) {
            const int n = j - 255;
            EXPECT_LE(std::abs(rows[a][j]), std::abs(n));
            if (a == 0) {
                EXPECT_EQ(rows[a][j], 0);
            }
            if (a == 255 && n != 0) {
                EXPECT_EQ(rows[a][j], n > 0 ? n - 1 : n + 1);
            }
            if (rows[a][j] != n * a / 255) ++drifted;  // integer division truncates toward zero
        }
    }
    EXPECT_EQ(drifted, 2754);
}

TEST(BlendTable, MultipliersReproduceEveryEntry) {
    const KernelTables& t = Tables();
    ASSERT_TRUE(t.multipliersExact);
    for (int a = 0; a < 256; ++a)
        for (int d = -255; d <= 255; ++d) {
            const int magnitude = std::abs(d);
            const int q = static_cast<int>((static_cast<std::uint32_t>(magnitude) * t.blendMultiplier[a]) >> 16);
            ASSERT_EQ(t.blend.rows[a][d + 255], d < 0 ? -q : q) << "row " << a << " difference " << d;
        }
}

TEST(BlendTable, MultiplierCheckRejectsARowNoMultiplierFits) {
    // A row that is not a truncated product of |d| with any multiplier.
    KernelTables t;
    ASSERT_TRUE(buildBlendTable(t.blend));
    t.blend.rows[7][255 + 3] = 2;
    t.blend.rows[7][255 + 4] = 1;
    std::uint32_t multipliers[256];
    EXPECT_FALSE(DeriveBlendMultipliers(t.blend, multipliers));
    ReleaseBlendTable(t.blend);
}

TEST(SineTable, RaisedCosineEntries) {
    const std::uint8_t* s = Tables().sine.entries;
    const int every16[] = {0, 2, 9, 21, 37, 57, 79, 103, 128, 153, 177, 199, 218, 234, 245, 252};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(s[16 * i], every16[i]) << "entry " << 16 * i;
    for (int i = 0; i <= 10; ++i) EXPECT_EQ(s[i], 0);
    EXPECT_EQ(s[11], 1);
    EXPECT_EQ(s[127], 126);
    EXPECT_EQ(s[128], 128);
    EXPECT_EQ(s[254], 254);
    EXPECT_EQ(s[255], 255);
    for (int i = 1; i <= 254; ++i) EXPECT_EQ(s[i] + s[255 - i], 254) << "entry " << i;
}

TEST(LanczosTable, CheckValues) {
    double* const* l = Tables().lanczos.arrays;
    EXPECT_EQ(l[1][0], 1.0);
    EXPECT_LT(std::fabs(l[0][0]), 1e-16);
    EXPECT_LT(std::fabs(l[2][0]), 1e-16);
    EXPECT_LT(std::fabs(l[3][0]), 1e-16);
    EXPECT_EQ(l[4][0], 1.0);
    EXPECT_EQ(l[4][4096], 1.0);
    EXPECT_EQ(l[2][4096], 1.0);
    const double at1024[] = {-0.132871, 0.890067, 0.270190, -0.067791, 1.042107};
    const double at2048[] = {-0.135095, 0.607927, 0.607927, -0.135095, 1.057458};
    for (int a = 0; a < 5; ++a) {
        EXPECT_NEAR(l[a][1024], at1024[a], 5e-7) << "array " << a;
        EXPECT_NEAR(l[a][2048], at2048[a], 5e-7) << "array " << a;
    }
}

TEST(CubicTable, CheckValuesAndTapShift) {
    double* const* c = Tables().cubic.taps;
    const double at0[] = {1.0 / 6, 2.0 / 3, 1.0 / 6, 0};
    const double at2048[] = {1.0 / 48, 23.0 / 48, 23.0 / 48, 1.0 / 48};
    for (int tap = 0; tap < 4; ++tap) {
        EXPECT_NEAR(c[tap][0], at0[tap], 1e-15);
        EXPECT_NEAR(c[tap][2048], at2048[tap], 1e-15);
    }
    EXPECT_EQ(c[0][4096], 0.0);
    for (int tap = 0; tap < 3; ++tap) EXPECT_EQ(c[tap + 1][4096], c[tap][0]);
    for (int k = 0; k <= 4096; ++k) {
        double sum = 0;
        for (int tap = 0; tap < 4; ++tap) {
            EXPECT_GE(c[tap][k], 0.0);
            sum += c[tap][k];
        }
        EXPECT_NEAR(sum, 1.0, 1e-12) << "k " << k;
    }
}

// An allocator that refuses its n-th request and tracks what is still held.
int requestsUntilFailure = 0;
std::set<void*> held;
void* obtainCounting(std::size_t bytes) {
    if (--requestsUntilFailure == 0) return nullptr;
    void* p = std::malloc(bytes);
    held.insert(p);
    return p;
}
void releaseCounting(void* p) {
    held.erase(p);
    std::free(p);
}
const TableMemory counting{obtainCounting, releaseCounting};

template <typename Table, typename Build, typename Release>
void expectCleanFailures(Build build, Release release, int requests) {
    for (int failAt = 1; failAt <= requests; ++failAt) {
        Table table;
        requestsUntilFailure = failAt;
        EXPECT_FALSE(build(table, counting)) << "request " << failAt;
        EXPECT_TRUE(held.empty()) << "request " << failAt << " left " << held.size() << " blocks";
    }
    Table table;
    requestsUntilFailure = requests + 1;
    ASSERT_TRUE(build(table, counting));
    EXPECT_EQ(held.size(), static_cast<std::size_t>(requests));
    release(table, counting);
    EXPECT_TRUE(held.empty());
}

TEST(TableMemory, FailedRequestsReleaseEverything) {
    expectCleanFailures<LanczosTable>(buildLanczosTable, ReleaseLanczosTable, 6);
    expectCleanFailures<CubicTable>(buildCubicTable, ReleaseCubicTable, 5);
    expectCleanFailures<BlendTable>(buildBlendTable, ReleaseBlendTable, 257);
    expectCleanFailures<SineTable>(buildSineTable, ReleaseSineTable, 1);
}

}  // namespace
