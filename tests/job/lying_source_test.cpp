// Sources whose headers lie about their length, size or rate: a run ends
// where the frames end, never writes more than the file can give, and a run
// that can't produce a frame is a failure, not a success.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/job/job_fixtures.h"

namespace {

constexpr int kW = 16, kH = 8;

std::string Out(const std::string& name) { return TempDir() + "/" + name; }

FixtureFile Frames(int count, uint32_t claimed, FixtureIndex index = FixtureIndex::Relative) {
    FixtureFile f;
    f.width = kW;
    f.height = kH;
    f.index = index;
    FixtureStream v;
    v.format = BitmapFormat(kW, kH, 24, BI_RGB);
    v.length = claimed;
    for (int n = 0; n < count; ++n) v.chunks.push_back(RgbPicture(kW, kH, n));
    f.streams.push_back(v);
    return f;
}

const InterpolationMethod kMethods[] = {InterpolationMethod::Coarse, InterpolationMethod::Linear,
                                        InterpolationMethod::Lansin2, InterpolationMethod::Median5};

// Every method ends with the source's last frame, whatever the header claims.
void ExpectEveryMethodEndsAt(const std::string& source, size_t frames) {
    for (const InterpolationMethod m : kMethods) {
        const std::string out = Out("lying-out.avi");
        std::filesystem::remove(out);
        TestRun t(source, out);
        t.settings.intMethod = m;
        const auto began = std::chrono::steady_clock::now();
        ASSERT_EQ(t.Run(), conversionDone) << source << " method " << static_cast<int>(m);
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5)) << source;
        const std::vector<Bytes> pictures = ReadPictures(out);
        ASSERT_EQ(pictures.size(), frames) << source << " method " << static_cast<int>(m);
        EXPECT_EQ(pictures.back(), RgbPicture(kW, kH, static_cast<int>(frames) - 1));
    }
}

TEST(LyingSource, ClaimedLengthsBeyondTheFramesPresent) {
    ExpectEveryMethodEndsAt(WriteFile("claims-100000.avi", BuildAvi(Frames(10, 100000))), 10);
    ExpectEveryMethodEndsAt(WriteFile("claims-2g.avi", BuildAvi(Frames(10, 0x7fffffffu))), 10);
}

TEST(LyingSource, TruncatedFileEndsWithItsLastWholeFrame) {
    // 100 frames claimed and stored, the file cut halfway through frame 47;
    // without its index the chunks are found by a scan.
    Bytes b = BuildAvi(Frames(100, 100, FixtureIndex::None));
    const size_t picture = size_t{(kW * 3 + 3) & ~3} * kH;
    const size_t firstChunk = b.size() - 100 * (picture + 8);
    b.resize(firstChunk + 47 * (picture + 8) + picture / 2);
    ExpectEveryMethodEndsAt(WriteFile("truncated.avi", b), 47);
}

}  // namespace
