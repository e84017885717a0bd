// Sources whose headers lie about their length, size or rate: a run ends
// where the frames end, never writes more than the file can give, and a run
// that can't produce a frame is a failure, not a success.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "media/source.h"
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

TEST(LyingSource, FrameRectangleLargerThanThePictureIsNotBelieved) {
    FixtureFile f = Frames(3, 3);
    f.streams[0].frame[2] = 8192;
    f.streams[0].frame[3] = 8192;
    const std::string out = Out("rect-out.avi");
    TestRun t(WriteFile("rect.avi", BuildAvi(f)), out);
    EXPECT_EQ(t.media.source.fileInfo.dwWidth, uint32_t{kW});
    EXPECT_EQ(t.media.source.fileInfo.dwHeight, uint32_t{kH});
    ASSERT_EQ(t.Run(), conversionDone);
    const std::vector<Bytes> pictures = ReadPictures(out);
    ASSERT_EQ(pictures.size(), 3u);
    EXPECT_EQ(pictures[2], RgbPicture(kW, kH, 2));
}

// Rates no run can step by and starts no frame position can reach are an
// unreadable description (3); frames none of which decode are a format we
// can't read (4). Neither gets as far as a run.
TEST(LyingSource, UnusableRatesStartsAndFramesAreRefusedAtOpen) {
    struct Case {
        const char* name;
        uint32_t rate, scale, start;
        RunResult result;
    };
    const Case cases[] = {
        {"scale-max", 25, 0xffffffffu, 0, sourceNoInfo}, {"rate-0", 0, 1, 0, sourceNoInfo},
        {"scale-0", 25, 0, 0, sourceNoInfo},             {"start-max", 25, 1, 0xffffffffu, sourceNoInfo},
        {"ntsc", 30000, 1001, 7, sourceOpened},
    };
    for (const Case& c : cases) {
        FixtureFile f = Frames(3, 3);
        f.streams[0].rate = c.rate;
        f.streams[0].scale = c.scale;
        f.streams[0].start = c.start;
        MediaState m;
        EXPECT_EQ(OpenSource(m, WriteFile(std::string(c.name) + ".avi", BuildAvi(f)).c_str()), c.result) << c.name;
        CloseMedia(m, nullptr, false);
    }
    // 32-bit pictures whose chunks are all cut short.
    FixtureFile f;
    f.width = kW;
    f.height = kH;
    FixtureStream v;
    v.format = BitmapFormat(kW, kH, 32, BI_RGB);
    for (int n = 0; n < 20; ++n) v.chunks.push_back(Bytes(kW * kH, 9));
    f.streams.push_back(v);
    MediaState m;
    EXPECT_EQ(OpenSource(m, WriteFile("undecodable.avi", BuildAvi(f)).c_str()), sourceUnsupported);
    CloseMedia(m, nullptr, false);
}

}  // namespace
