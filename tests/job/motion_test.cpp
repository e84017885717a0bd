// Motion through whole runs: a pan rebuilt from the frames around it, the
// same bytes for every thread count and every run, and no frame mixed from
// two scenes.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "frames/geometry.h"
#include "tests/job/job_fixtures.h"

namespace {

std::string Out(const std::string& name) { return TempDir() + "/" + name; }

// A detailed picture: two slanted waves and fixed grain, at any position.
std::uint8_t Texture(int x, int y, int c, int scene) {
    unsigned h = static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u ^
                 static_cast<unsigned>(c + 3 * scene) * 83492791u;
    h = (h ^ (h >> 13)) * 0x5bd1e995u;
    const double grain = static_cast<int>((h >> 8) % 21) - 10;
    // Another scene has waves of other lengths and directions.
    const double a = scene ? 0.05 : 0.23, b = scene ? 0.29 : 0.11;
    const double v = 128 + 55 * std::sin(x * a + y * b + c) + 40 * std::sin(x * b - y * a + 2 * c) + grain;
    return static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

// One picture of width x height, its pixel (x, row) from `pixel`.
Bytes Picture(int width, int height, const std::function<std::uint8_t(int, int, int)>& pixel) {
    const int stride = RowStride(width);
    Bytes b(static_cast<std::size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) b[static_cast<std::size_t>(y) * stride + 3 * x + c] = pixel(x, y, c);
    return b;
}

// A 25 fps source of `frames` pictures, picture n from `picture(n)`.
std::string MakeMovie(const std::string& name, int width, int height, int frames,
                      const std::function<Bytes(int)>& picture) {
    FixtureFile f;
    f.width = width;
    f.height = height;
    FixtureStream v;
    v.format = BitmapFormat(width, height, 24, BI_RGB);
    v.length = static_cast<std::uint32_t>(frames);
    v.frame[2] = static_cast<std::int16_t>(width);
    v.frame[3] = static_cast<std::int16_t>(height);
    for (int n = 0; n < frames; ++n) v.chunks.push_back(picture(n));
    f.streams.push_back(v);
    return WriteFile(name, BuildAvi(f));
}

// The texture panning `speed` pixels a frame: frame n (or n + 0.5) shows it from x = speed * n.
Bytes PanPicture(int width, int height, double n, int speed) {
    const int shift = static_cast<int>(std::lround(speed * n));
    return Picture(width, height, [&](int x, int y, int c) { return Texture(x + shift, y, c, 0); });
}

double Psnr(const Bytes& a, const Bytes& b, int width, int height, int margin) {
    const int stride = RowStride(width);
    double sum = 0;
    std::size_t n = 0;
    for (int y = margin; y < height - margin; ++y)
        for (int x = 3 * margin; x < 3 * (width - margin); ++x) {
            const double d = a[static_cast<std::size_t>(y) * stride + x] - b[static_cast<std::size_t>(y) * stride + x];
            sum += d * d;
            ++n;
        }
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * n / sum);
}

Bytes Convert(const std::string& source, const std::string& out, const std::function<void(TestRun&)>& set,
              std::vector<std::int64_t>* cuts = nullptr) {
    Bytes file;
    std::filesystem::remove(out);
    {
        TestRun t(source, out);
        t.settings.intMethod = InterpolationMethod::Motion;
        t.settings.intRange = 1.0;
        t.settings.dstRate = 50;
        set(t);
        EXPECT_EQ(t.Run(), conversionDone);
        if (cuts) *cuts = t.job.cuts;
    }
    file = ReadWholeFile(out);
    return file;
}

TEST(Motion, PanOfATexturedPictureIsRebuiltBetweenItsFrames) {
    const int w = 192, h = 128, speed = 12;
    const std::string src = MakeMovie("pan.avi", w, h, 6, [&](int n) { return PanPicture(w, h, n, speed); });
    Convert(src, Out("pan-motion.avi"), [](TestRun&) {});
    const std::vector<Bytes> out = ReadPictures(Out("pan-motion.avi"));
    ASSERT_EQ(out.size(), 12u);
    for (int k = 1; k < 10; k += 2) {
        // Half-way frames; the columns that enter the picture are left out.
        EXPECT_GT(Psnr(out[k], PanPicture(w, h, k / 2.0, speed), w, h, speed), 35.0) << "frame " << k;
        EXPECT_EQ(out[k - 1], PanPicture(w, h, (k - 1) / 2, speed)) << "frame " << k - 1;
    }
    // A plain blend of the same frames is far off: the test sees motion.
    Bytes blend = out[1];
    const Bytes a = PanPicture(w, h, 0, speed), b = PanPicture(w, h, 1, speed);
    for (std::size_t i = 0; i < blend.size(); ++i) blend[i] = static_cast<std::uint8_t>((a[i] + b[i] + 1) / 2);
    EXPECT_LT(Psnr(blend, PanPicture(w, h, 0.5, speed), w, h, speed), 25.0);
}

// Two scenes of three frames each, each panning.
Bytes CutPicture(int n) {
    const int scene = n < 3 ? 0 : 1;
    return Picture(160, 96, [&](int x, int y, int c) { return Texture(x + 6 * n, y, c, scene); });
}

TEST(Cuts, MotionAndCutAwareMethodsTakeTheNearerFrameWholeAndReportTheCut) {
    const std::string src = MakeMovie("cut.avi", 160, 96, 6, CutPicture);
    struct Case {
        InterpolationMethod method;
        int cutAware;
        bool whole;  // the frame across the cut is a source frame whole
    } cases[] = {{InterpolationMethod::Motion, 0, true},
                 {InterpolationMethod::Lansin2, 1, true},
                 {InterpolationMethod::Median3, 1, true},
                 {InterpolationMethod::Lansin2, 0, false}};
    for (const Case& c : cases) {
        std::vector<std::int64_t> cuts;
        Convert(
            src, Out("cut-out.avi"),
            [&](TestRun& t) {
                t.settings.intMethod = c.method;
                t.settings.cutAware = c.cutAware;
            },
            &cuts);
        const std::vector<Bytes> out = ReadPictures(Out("cut-out.avi"));
        ASSERT_EQ(out.size(), 12u);
        const int m = static_cast<int>(c.method);
        // Output 5 lies half-way between source 2 (the first scene) and 3 (the second).
        EXPECT_EQ(out[5] == CutPicture(2) || out[5] == CutPicture(3), c.whole) << m;
        // Within a scene the frames between are rebuilt, not held.
        EXPECT_NE(out[3], CutPicture(1)) << m;
        EXPECT_NE(out[3], CutPicture(2)) << m;
        EXPECT_EQ(cuts, c.whole ? std::vector<std::int64_t>{3} : std::vector<std::int64_t>{}) << m;
    }
}

// Large enough to be split into bands, for whole frames, fields and woven
// output, with letterbox bars: every thread count and every run give the
// bytes of one thread.
TEST(Motion, EveryThreadCountAndEveryRunGiveTheSameFile) {
    const int w = 640, h = 96;
    const std::string src = MakeMovie("motion-bands.avi", w, h, 4, [&](int n) { return PanPicture(w, h, n, 7); });
    struct Case {
        InterlaceResampleMethod res;
        DeinterlaceMode deint;
        LetterboxMode letterbox;
    } cases[] = {
        {InterlaceResampleMethod::Cubic, DeinterlaceMode::Disabled, LetterboxMode::None},
        {InterlaceResampleMethod::Lanczos, DeinterlaceMode::BothTopFirst, LetterboxMode::FrameKept},
        {InterlaceResampleMethod::InterlacedTopFirst, DeinterlaceMode::BothBottomFirst, LetterboxMode::None},
        {InterlaceResampleMethod::InterlacedBottomFirst, DeinterlaceMode::OddFields, LetterboxMode::None},
    };
    for (const Case& c : cases) {
        Bytes oneThread;
        for (int threads : {1, 2, 3, 0, 1}) {
            const std::string out = Out("motion-bands-" + std::to_string(threads) + ".avi");
            const Bytes file = Convert(src, out, [&](TestRun& t) {
                t.settings.dstRate = 40;
                t.settings.deintRes = c.res;
                t.settings.deint = c.deint;
                t.settings.letterbox = c.letterbox;
                t.settings.outputHeight = 290;
                t.run.threads = threads;
            });
            std::filesystem::remove(out);
            if (oneThread.empty()) {
                oneThread = file;
                EXPECT_GT(file.size(), 640u * 3 * 290);  // a frame at least
            } else {
                EXPECT_EQ(file, oneThread) << threads << " threads, deinterlace " << static_cast<int>(c.deint);
            }
        }
    }
}

}  // namespace
