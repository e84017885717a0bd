// Sources whose headers lie about their length, size or rate: a run ends
// where the frames end, never writes more than the file can give, and a run
// that can't produce a frame is a failure, not a success.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "media/source.h"
#include "tests/job/job_fixtures.h"
#include "tests/media/writer_fixtures.h"

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
        {"scale-max", 25, 0xffffffffu, 0, sourceNoInfo},
        {"rate-0", 0, 1, 0, sourceNoInfo},
        {"scale-0", 25, 0, 0, sourceNoInfo},
        {"start-max", 25, 1, 0xffffffffu, sourceNoInfo},
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

// ---- Sound ---------------------------------------------------------------------------

Bytes WithAudio(Bytes format, uint32_t sampleSize = 2) {
    FixtureFile f = Frames(3, 3);
    FixtureStream a;
    a.type = streamtypeAUDIO;
    a.suffix = "wb";
    a.rate = 8000;
    a.sampleSize = sampleSize;
    a.format = std::move(format);
    a.chunks.push_back(Bytes(64, 1));
    f.streams.push_back(a);
    return BuildAvi(f);
}

// Formats no player could play, and compressed sound whose units would cut
// its blocks, are an unreadable description (3) before anything is written,
// unless libavcodec decodes them.
TEST(CompressedSound, UncarriableFormatsAreRefusedAtOpen) {
    struct Case {
        const char* name;
        size_t at;  // byte of the format to change, with its 16-bit value
        uint16_t value;
        uint32_t sampleSize;
        RunResult result;
    };
    const Case cases[] = {
        {"pcm", 0, 1, 2, sourceOpened},
        {"no-channels", 2, 0, 2, sourceNoInfo},
        {"65535-channels", 2, 65535, 2, sourceNoInfo},
        {"no-block", 12, 0, 2, sourceOpened},  // decoded: libavcodec knows PCM's block
        {"ac3-blocks", 0, 0x2000, 2, sourceOpened},
        {"ac3-cut-blocks", 0, 0x2000, 3, sourceNoInfo},
    };
    for (const Case& c : cases) {
        Bytes format = PcmFormat(1, 8000, 16, true);
        format[c.at] = static_cast<uint8_t>(c.value);
        format[c.at + 1] = static_cast<uint8_t>(c.value >> 8);
        MediaState m;
        EXPECT_EQ(OpenSource(m, WriteFile(std::string(c.name) + ".avi", WithAudio(format, c.sampleSize)).c_str()),
                  c.result)
            << c.name;
        CloseMedia(m, nullptr, false);
    }
}

// AC-3 goes over as the source stored it, frame for frame, at the same rate
// and in slow motion, and decodes without an error.
TEST(CompressedSound, Ac3ChunksAreCarriedWhole) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    const std::string source = TempDir() + "/ac3-src.avi";
    ASSERT_TRUE(
        RunFfmpeg("-f lavfi -i testsrc2=size=16x8:rate=25:duration=2 -f lavfi -i "
                  "sine=sample_rate=48000:duration=2 -c:v rawvideo -pix_fmt bgr24 -c:a ac3 -b:a 96k '" +
                  source + "'"));
    const Bytes stored = ReadAudio(source);
    ASSERT_GT(stored.size(), 10000u);
    for (const double rate : {25.0, 29.97}) {
        const std::string out = Out("ac3-out.avi");
        std::filesystem::remove(out);
        TestRun t(source, out);
        t.settings.dstRate = rate;
        t.settings.srcSpeed = rate == 25.0 ? 1.0 : 0.5;
        ASSERT_EQ(t.Run(), conversionDone) << rate;
        EXPECT_EQ(ReadAudio(out), stored) << rate;
        EXPECT_EQ(Probe(out, "stream", "nb_frames", "a:0"), Probe(source, "stream", "nb_frames", "a:0")) << rate;
        EXPECT_TRUE(RunFfmpeg("-xerror -i '" + out + "' -map 0:a -f null -")) << rate;
    }
}

}  // namespace
