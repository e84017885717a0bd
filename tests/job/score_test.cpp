// tavrick score's round trip and its figures: known results, the keep
// patterns, the edges of a source, fields, and agreement with FFmpeg's filters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>

#include "frames/picture_metrics.h"
#include "job/score_report.h"
#include "job/score_run.h"
#include "media/source.h"
#include "tests/job/job_fixtures.h"
#include "tests/media/writer_fixtures.h"

namespace {

using Picture = std::function<Bytes(int n)>;

// An uncompressed clip of `frames` pictures at rate / scale frames per second.
std::string MakeClip(const std::string& name, int width, int height, int frames, const Picture& picture,
                     std::uint32_t rate = 25, std::uint32_t scale = 1) {
    FixtureFile f;
    f.width = static_cast<std::uint32_t>(width);
    f.height = static_cast<std::uint32_t>(height);
    FixtureStream v;
    v.format = BitmapFormat(width, height, 24, BI_RGB);
    v.rate = rate;
    v.scale = scale;
    v.length = static_cast<std::uint32_t>(frames);
    for (int n = 0; n < frames; ++n) v.chunks.push_back(picture(n));
    f.streams.push_back(v);
    return WriteFile(name, BuildAvi(f));
}

// Progressive frames at the source's size: what a user of progressive footage sets.
ConversionSettings Progressive(int height) {
    ConversionSettings s = DefaultSettings();
    s.deint = DeinterlaceMode::Disabled;
    s.deintRes = InterlaceResampleMethod::Coarse;
    s.intRange = 1.0;
    s.letterbox = LetterboxMode::None;
    s.outputHeight = height;
    return s;
}

struct Scored {
    RunResult result;
    ScoreReport report;
};

Scored Score(const std::string& path, const ConversionSettings& settings, ScoreRequest request = {}) {
    MediaState media;
    Scored s{OpenSource(media, path.c_str()), {}};
    if (s.result == sourceOpened) s.result = ScoreSource(settings, media.source, TestTables(), request, s.report);
    CloseMedia(media, nullptr, false);
    return s;
}

std::vector<std::int64_t> FramesOf(const MethodScore& m) {
    std::vector<std::int64_t> frames;
    for (const FrameScore& f : m.frames) frames.push_back(f.frame);
    return frames;
}

TEST(Score, StillPictureIsRebuiltPerfectlyByEveryMethod) {
    const Bytes still = SmoothPicture(40, 24, 3);
    const Scored s = Score(MakeClip("still.avi", 40, 24, 12, [&](int) { return still; }), Progressive(24));
    ASSERT_EQ(s.result, conversionDone);
    ASSERT_EQ(s.report.methods.size(), static_cast<std::size_t>(interpolationMethodCount));
    for (const MethodScore& m : s.report.methods) {
        SCOPED_TRACE(MethodKey(m.method));
        EXPECT_EQ(FramesOf(m), (std::vector<std::int64_t>{1, 3, 5, 7, 9}));
        // Cubic and Lanczos truncate a weighted sum whose weights add up to
        // one only within double rounding: a sample may come back a level low.
        if (m.method == 3 || m.method == 4) {
            EXPECT_GT(m.PooledMseRgb(), 0.0);
            EXPECT_LT(m.PooledMseRgb(), 1.0);
            continue;
        }
        EXPECT_TRUE(std::isinf(PsnrOfMse(m.PooledMseY())));
        EXPECT_TRUE(std::isinf(PsnrOfMse(m.PooledMseRgb())));
        EXPECT_DOUBLE_EQ(m.MeanSsim(), 1.0);
    }
    const std::string table = ScoreTable(s.report, Progressive(24), {}, "still.avi");
    EXPECT_NE(table.find("median5   inf     inf       1.00000"), std::string::npos) << table;
    const std::string json = ScoreJson(s.report, Progressive(24), {}, "still.avi");
    EXPECT_NE(json.find("\"psnrY\": \"inf\", \"psnrRgb\": \"inf\", \"ssim\": 1.000000"), std::string::npos) << json;
}

TEST(Score, LinearRebuildsAFadeToWithinRounding) {
    // Every sample brightens by the same step each frame: the midpoint of two
    // kept frames is the dropped one, give or take the blend's rounding.
    const auto fade = [](int n) {
        Bytes b = SmoothPicture(48, 32, 0);
        for (std::uint8_t& v : b) v = static_cast<std::uint8_t>((v * n + 8) / 16);
        return b;
    };
    ScoreRequest request;
    request.methods = {1, 0};
    const Scored s = Score(MakeClip("fade.avi", 48, 32, 16, fade), Progressive(32), request);
    ASSERT_EQ(s.result, conversionDone);
    const MethodScore& linear = s.report.methods[0];
    EXPECT_EQ(linear.method, 1);
    EXPECT_GT(PsnrOfMse(linear.PooledMseY()), 50.0);
    EXPECT_LT(linear.PooledMseRgb(), 1.0);
    // Holding the frame before is off by a whole step.
    EXPECT_LT(PsnrOfMse(s.report.methods[1].PooledMseY()), 40.0);
    EXPECT_EQ(BestFirst(s.report).front()->method, 1);
}

TEST(Score, KeepPatternsAndTheEdgesOfTheSource) {
    EXPECT_TRUE(IsKeptFrame({1, 3}, 0) && IsKeptFrame({1, 3}, 3) && IsKeptFrame({1, 3}, -3));
    EXPECT_FALSE(IsKeptFrame({1, 3}, 1) || IsKeptFrame({1, 3}, -1) || IsKeptFrame({1, 3}, -2));
    std::string twoOfFive;
    for (int o = -5; o < 10; ++o) twoOfFive += IsKeptFrame({2, 5}, o) ? 'K' : '.';
    EXPECT_EQ(twoOfFive, "K.K..K.K..K.K..");

    const std::string clip = MakeClip("moving.avi", 32, 16, 14, [](int n) { return SmoothPicture(32, 16, n); });
    ScoreRequest request;
    request.methods = {3};
    request.keep = {1, 3};
    Scored s = Score(clip, Progressive(16), request);
    ASSERT_EQ(s.result, conversionDone);
    // The whole 14-frame source is the stretch; 13 has no kept frame after it.
    EXPECT_TRUE(s.report.shortened);
    EXPECT_EQ(s.report.frameCount, 14);
    EXPECT_EQ(FramesOf(s.report.methods[0]), (std::vector<std::int64_t>{1, 2, 4, 5, 7, 8, 10, 11}));

    request.keep = {2, 5};
    request.startSeconds = 0.04;  // frame 1
    request.durationSeconds = 0.4;
    s = Score(clip, Progressive(16), request);
    ASSERT_EQ(s.result, conversionDone);
    EXPECT_FALSE(s.report.shortened);
    EXPECT_EQ(s.report.firstFrame, 1);
    EXPECT_EQ(FramesOf(s.report.methods[0]), (std::vector<std::int64_t>{2, 4, 5, 7, 9, 10}));

    // A stretch past the end, or too short to drop a frame, has nothing to rebuild.
    request.startSeconds = 5.0;
    EXPECT_EQ(Score(clip, Progressive(16), request).result, sourceNoInfo);
    request.startSeconds = 0.0;
    request.durationSeconds = 0.04;
    EXPECT_EQ(Score(clip, Progressive(16), request).result, sourceNoInfo);
}

// The conversion of the kept frames (half the rate, back to the full rate)
// writes the very frames score compares: its errors against the original,
// frame by frame, must be score's, for every method and in every field mode.
TEST(Score, RebuiltFramesAreTheConversionsOfTheKeptFrames) {
    const int frames = 12;
    const auto picture = [](int n) { return SmoothPicture(24, 16, 3 * n); };
    const std::string original = MakeClip("orig.avi", 24, 16, frames, picture);
    const std::string kept = MakeClip(
        "kept.avi", 24, 16, frames / 2, [&](int n) { return picture(2 * n); }, 25, 2);
    struct Mode {
        DeinterlaceMode deint;
        InterlaceResampleMethod resample;
        double range;
    };
    for (const Mode mode : {Mode{DeinterlaceMode::Disabled, InterlaceResampleMethod::Coarse, 1.0},
                            Mode{DeinterlaceMode::BothBottomFirst, InterlaceResampleMethod::InterlacedBottomFirst, 1.0},
                            Mode{DeinterlaceMode::BothTopFirst, InterlaceResampleMethod::Cubic, 0.6},
                            Mode{DeinterlaceMode::OddFields, InterlaceResampleMethod::Lanczos, 1.0}}) {
        SCOPED_TRACE(static_cast<int>(mode.deint));
        ConversionSettings settings = Progressive(16);
        settings.deint = mode.deint;
        settings.deintRes = mode.resample;
        settings.intRange = mode.range;
        const Scored s = Score(original, settings);
        ASSERT_EQ(s.result, conversionDone);
        int runs = 0;
        const auto convert = [&](const std::string& from, const char* what, int method) {
            const std::string to = TempDir() + "/" + what + std::to_string(static_cast<int>(mode.deint)) + "-" +
                                   std::to_string(runs++) + ".avi";
            TestRun run(from, to);
            run.settings.deint = settings.deint;
            run.settings.deintRes = settings.deintRes;
            run.settings.intRange = settings.intRange;
            run.settings.intMethod = static_cast<InterpolationMethod>(method);
            EXPECT_EQ(run.Run(), conversionDone);
            return ReadPictures(to);
        };
        const std::vector<Bytes> reference = convert(original, "reference", 0);
        ASSERT_EQ(reference.size(), static_cast<std::size_t>(frames));
        MetricScratch scratch;
        for (const MethodScore& m : s.report.methods) {
            const std::vector<Bytes> rebuilt = convert(kept, "rebuilt", m.method);
            ASSERT_EQ(FramesOf(m), (std::vector<std::int64_t>{1, 3, 5, 7, 9})) << MethodKey(m.method);
            for (const FrameScore& f : m.frames) {
                const auto t = static_cast<std::size_t>(f.frame);
                const PictureScore expected =
                    ScorePictures(BottomUpPicture(reference[t].data(), 24, 16, RowStride(24)),
                                  BottomUpPicture(rebuilt[t].data(), 24, 16, RowStride(24)), scratch);
                EXPECT_EQ(f.mseRgb, expected.mseRgb) << MethodKey(m.method) << " frame " << t;
                EXPECT_EQ(f.ssim, expected.ssimY) << MethodKey(m.method) << " frame " << t;
            }
        }
    }
}

// ---- Agreement with FFmpeg's psnr and ssim filters -----------------------------------

// Values of `key` (e.g. "lavfi.psnr.psnr_avg=" or "Y:") in FFmpeg's output, in order.
std::vector<double> Values(const std::string& text, const std::string& key) {
    std::vector<double> values;
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1))
        values.push_back(std::strtod(text.c_str() + at + key.size(), nullptr));
    return values;
}

std::string RawFrames(const std::string& name, const std::vector<Bytes>& frames) {
    Bytes all;
    for (const Bytes& f : frames) all.insert(all.end(), f.begin(), f.end());
    return WriteFile(name, all);
}

TEST(ScoreMetrics, AgreeWithFfmpegPsnrAndSsimFilters) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    // Sizes that leave FFmpeg's 4x4 blocks a ragged edge, and a larger one.
    for (const auto& [w, h] : {std::pair{67, 45}, std::pair{320, 240}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const int stride = RowStride(w);
        std::vector<Bytes> originals, rebuilts, bgrA, bgrB, lumaA, lumaB;
        std::vector<PictureScore> ours;
        MetricScratch scratch;
        for (int n = 0; n < 3; ++n) {
            // A blend of the neighbours and some noise: a rebuilt frame's kind of error.
            const Bytes a = SmoothPicture(w, h, 4 * n + 2);
            const Bytes before = SmoothPicture(w, h, 4 * n), after = SmoothPicture(w, h, 4 * n + 4 + n);
            Bytes b(a.size());
            std::uint32_t noise = 12345u + static_cast<std::uint32_t>(n);
            for (std::size_t i = 0; i < b.size(); ++i) {
                noise = noise * 1103515245u + 12345u;
                b[i] = static_cast<std::uint8_t>(
                    std::clamp((before[i] + after[i]) / 2 + static_cast<int>((noise >> 16) % 9) - 4, 0, 255));
            }
            const BgrPicture pa = BottomUpPicture(a.data(), w, h, stride), pb = BottomUpPicture(b.data(), w, h, stride);
            ours.push_back(ScorePictures(pa, pb, scratch));
            bgrA.push_back(ToTopDownPacked(a.data(), w, h));
            bgrB.push_back(ToTopDownPacked(b.data(), w, h));
            Bytes ya(static_cast<std::size_t>(w) * h), yb(ya.size());
            LumaOfPicture(pa, ya.data());
            LumaOfPicture(pb, yb.data());
            lumaA.push_back(ya);
            lumaB.push_back(yb);
        }
        const std::string size = " -s " + std::to_string(w) + "x" + std::to_string(h) + " -i '";
        const std::string dir = TempDir() + "/";
        // RGB: bgr24 reordered losslessly into the planar gbrp the filter takes;
        // its average over the three planes is the PSNR of all samples.
        const std::string rgb =
            Capture("ffmpeg -nostdin -hide_banner -f rawvideo -pix_fmt bgr24" + size + RawFrames("b.bgr", bgrB) +
                    "' -f rawvideo -pix_fmt bgr24" + size + RawFrames("a.bgr", bgrA) +
                    "' -lavfi '[0]format=gbrp[m];[1]format=gbrp[r];[m][r]psnr,metadata=mode=print:file=" + dir +
                    "rgb.txt' -f null - 2>&1");
        // Luma: our Y planes as gray, the format both filters read as they are.
        const std::string y =
            Capture("ffmpeg -nostdin -hide_banner -f rawvideo -pix_fmt gray" + size + RawFrames("b.y", lumaB) +
                    "' -f rawvideo -pix_fmt gray" + size + RawFrames("a.y", lumaA) +
                    "' -lavfi '[0]split[m0][m1];[1]split[r0][r1];[m0][r0]psnr,metadata=mode=print:file=" + dir +
                    "y.txt[p];[m1][r1]ssim=stats_file=" + dir + "ssim.txt[s];[p][s]hstack' -f null - 2>&1");
        const auto file = [&](const char* name) {
            const Bytes b = ReadWholeFile(dir + name);
            return std::string(b.begin(), b.end());
        };
        const std::vector<double> psnrRgb = Values(file("rgb.txt"), "lavfi.psnr.psnr_avg="),
                                  psnrY = Values(file("y.txt"), "lavfi.psnr.psnr.y="),
                                  ssim = Values(file("ssim.txt"), " Y:");
        ASSERT_EQ(psnrRgb.size(), 3u) << rgb;
        ASSERT_EQ(psnrY.size(), 3u) << y;
        ASSERT_EQ(ssim.size(), 3u) << y;
        MethodScore pooled;
        for (int n = 0; n < 3; ++n) {
            EXPECT_NEAR(PsnrOfMse(ours[n].mseRgb), psnrRgb[n], 0.01) << n;
            EXPECT_NEAR(PsnrOfMse(ours[n].mseY), psnrY[n], 0.01) << n;
            EXPECT_NEAR(ours[n].ssimY, ssim[n], 0.0005) << n;
            EXPECT_GT(ours[n].ssimY, 0.3);
            EXPECT_LT(ours[n].ssimY, 0.99);
            pooled.frames.push_back(FrameScore{n, ours[n].mseY, ours[n].mseRgb, ours[n].ssimY});
        }
        // Pooled as FFmpeg's summary pools: PSNR of the mean error, the mean SSIM.
        const std::vector<double> summaryY = Values(y, "PSNR y:"), summaryRgb = Values(rgb, "average:"),
                                  summarySsim = Values(y, "SSIM Y:");
        ASSERT_EQ(summaryY.size(), 1u) << y;
        ASSERT_EQ(summaryRgb.size(), 1u) << rgb;
        ASSERT_EQ(summarySsim.size(), 1u) << y;
        EXPECT_NEAR(PsnrOfMse(pooled.PooledMseY()), summaryY[0], 0.01);
        EXPECT_NEAR(PsnrOfMse(pooled.PooledMseRgb()), summaryRgb[0], 0.01);
        EXPECT_NEAR(pooled.MeanSsim(), summarySsim[0], 0.0005);
        std::printf("%dx%d: PSNR Y %.4f / %.4f, RGB %.4f / %.4f, SSIM %.6f / %.6f (ours / FFmpeg, pooled)\n", w, h,
                    PsnrOfMse(pooled.PooledMseY()), summaryY[0], PsnrOfMse(pooled.PooledMseRgb()), summaryRgb[0],
                    pooled.MeanSsim(), summarySsim[0]);
    }
}

}  // namespace
