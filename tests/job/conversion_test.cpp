// Whole runs through real files: schedule, pixels, audio, segments, stop,
// pause and the failures that can be provoked.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "core/messages.h"
#include "job/worker.h"
#include "platform/threads.h"
#include "tests/job/job_fixtures.h"
#include "tests/media/writer_fixtures.h"

namespace {

std::string Out(const std::string& name) { return TempDir() + "/" + name; }
bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// ---- Schedule --------------------------------------------------------------------

TEST(Schedule, FrameCountsOfRatesSpeedsAndFieldModes) {
    const std::string src = MakeSource("sched.avi", Spec(32, 24, 20));
    struct Case {
        double rate, speed;
        DeinterlaceMode deint;
        InterlaceResampleMethod res;
        std::size_t frames;
    } cases[] = {
        {50, 1.0, DeinterlaceMode::Disabled, InterlaceResampleMethod::Coarse, 40},              // up
        {10, 1.0, DeinterlaceMode::Disabled, InterlaceResampleMethod::Coarse, 8},               // down: 20 / 2.5
        {25, 2.0, DeinterlaceMode::Disabled, InterlaceResampleMethod::Coarse, 10},              // twice as fast
        {25, 0.5, DeinterlaceMode::Disabled, InterlaceResampleMethod::Linear, 40},              // half speed
        {25, 1.0, DeinterlaceMode::Disabled, InterlaceResampleMethod::InterlacedTopFirst, 20},  // 40 fields
        {20, 1.0, DeinterlaceMode::Disabled, InterlaceResampleMethod::InterlacedBottomFirst, 16},
        {50, 1.0, DeinterlaceMode::BothTopFirst, InterlaceResampleMethod::Linear, 40},
        {25, 1.0, DeinterlaceMode::EvenFields, InterlaceResampleMethod::Lanczos, 20},
    };
    for (const Case& c : cases) {
        TestRun t(src, Out("sched-out.avi"));
        t.boxes.questionAnswer = IDYES;  // replace the last case's file
        t.settings.dstRate = c.rate;
        t.settings.srcSpeed = c.speed;
        t.settings.deint = c.deint;
        t.settings.deintRes = c.res;
        ASSERT_EQ(t.Run(), conversionDone) << c.rate << " " << c.speed;
        EXPECT_EQ(ReadPictures(Out("sched-out.avi")).size(), c.frames) << c.rate << " " << c.speed;
        ASSERT_FALSE(t.progress.statuses.empty());
        EXPECT_EQ(t.progress.bars.back(), 100);
    }
}

TEST(Schedule, OddFieldCountDropsTheLastFieldAndNoStepsGiveAnEmptyFile) {
    // 7 frames woven at 20 fps: 11.2 -> 11 field steps, 5 whole frames.
    TestRun t(MakeSource("odd.avi", Spec(32, 24, 7)), Out("odd-out.avi"));
    t.settings.dstRate = 20;
    t.settings.deintRes = InterlaceResampleMethod::InterlacedTopFirst;
    ASSERT_EQ(t.Run(), conversionDone);
    EXPECT_EQ(t.job.plan.stepCount, 11u);
    EXPECT_EQ(ReadPictures(Out("odd-out.avi")).size(), 5u);

    // One frame to 10 fps: no step at all, still a closed, playable file.
    TestRun one(MakeSource("one.avi", Spec(32, 24, 1, true)), Out("empty.avi"));
    one.settings.dstRate = 10;
    ASSERT_EQ(one.Run(), conversionDone);
    EXPECT_EQ(one.progress.statuses, std::vector<std::string>{"100%, frame 0 of 0, 0:00:00 left"});
    EXPECT_EQ(StreamCount(Out("empty.avi")), 2);
    EXPECT_TRUE(ReadPictures(Out("empty.avi")).empty());
    if (HaveFfmpeg()) {
        EXPECT_EQ(Probe(Out("empty.avi"), "stream", "codec_name"), "rawvideo");
    }
}

// ---- Pixels ------------------------------------------------------------------------

TEST(Pixels, LinearUpConversionCopiesEvenStepsAndBlendsOddOnes) {
    const int w = 40, h = 30;
    TestRun t(MakeSource("lin.avi", Spec(w, h, 6)), Out("lin-out.avi"));
    t.settings.dstRate = 50;
    ASSERT_EQ(t.Run(), conversionDone);
    const std::vector<Bytes> out = ReadPictures(Out("lin-out.avi"));
    ASSERT_EQ(out.size(), 12u);

    // The expected blend: the kernel itself on two source pictures, at 0.5.
    Bytes a, b, expected(out[0].size());
    FrameRing ring;
    KernelContext ctx{&ring, expected.data(), RowStride(w), h, expected.size(), &TestTables(), &ReferenceRowKernels()};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(out[2 * k], RgbPicture(w, h, k)) << "step " << 2 * k;
        a = RgbPicture(w, h, k);
        b = RgbPicture(w, h, std::min(k + 1, 5));  // the last frame repeats past the end
        ring.slots[2] = a.data();
        ring.slots[3] = b.data();
        interpolateLinear(ctx, false, 0, 2, 3, 0.5);
        EXPECT_EQ(out[2 * k + 1], expected) << "step " << 2 * k + 1;
        if (k < 5) {
            EXPECT_NE(out[2 * k + 1], out[2 * k]);
        }
    }
}

TEST(Pixels, CoarseHoldsAndMedian3FiltersAtEqualRates) {
    const int w = 16, h = 8;
    const std::string src = MakeSource("med.avi", Spec(w, h, 5));
    {
        TestRun t(src, Out("coarse.avi"));
        t.settings.intMethod = InterpolationMethod::Coarse;
        t.settings.dstRate = 75;  // three steps per source frame
        ASSERT_EQ(t.Run(), conversionDone);
        const std::vector<Bytes> out = ReadPictures(Out("coarse.avi"));
        ASSERT_EQ(out.size(), 15u);
        for (int i = 0; i < 15; ++i) EXPECT_EQ(out[i], RgbPicture(w, h, i / 3)) << i;
    }
    TestRun t(src, Out("median.avi"));
    t.settings.intMethod = InterpolationMethod::Median3;
    ASSERT_EQ(t.Run(), conversionDone);
    const std::vector<Bytes> out = ReadPictures(Out("median.avi"));
    ASSERT_EQ(out.size(), 5u);
    int filtered = 0;
    for (int k = 0; k < 5; ++k) {
        // Before the start slot 1 holds frame 0; past the end slot 3 repeats the last frame.
        const Bytes p = RgbPicture(w, h, std::max(k - 1, 0)), c = RgbPicture(w, h, k),
                    n = RgbPicture(w, h, std::min(k + 1, 4));
        Bytes m(c.size());
        for (std::size_t i = 0; i < m.size(); ++i)
            m[i] = std::max(std::min(p[i], c[i]), std::min(std::max(p[i], c[i]), n[i]));
        EXPECT_EQ(out[k], m) << "frame " << k;
        filtered += out[k] != c;
    }
    EXPECT_GT(filtered, 0) << "the median changed nothing: the test pictures prove nothing";
}

// Field pairs at the source rate: each frame is the median of the second field
// before, the first field and the second field of the same frame, so every
// field slot must hold the field of its time as the ring moves on.
TEST(Pixels, Median3OverFieldPairsReadsTheFieldsOfItsTime) {
    const int w = 16, h = 8, frames = 5;
    TestRun t(MakeSource("fields.avi", Spec(w, h, frames)), Out("fields-out.avi"));
    t.settings.intMethod = InterpolationMethod::Median3;
    t.settings.deint = DeinterlaceMode::BothTopFirst;
    t.settings.deintRes = InterlaceResampleMethod::Coarse;
    t.settings.dstRate = 25;
    t.settings.outputHeight = h;
    ASSERT_EQ(t.Run(), conversionDone);
    const std::vector<Bytes> out = ReadPictures(Out("fields-out.avi"));
    ASSERT_EQ(out.size(), static_cast<std::size_t>(frames));
    const std::size_t stride = static_cast<std::size_t>(RowStride(w));
    // Four field rows stretched to eight by row picking; the second field
    // (even source rows) is shifted half a field row.
    auto field = [&](int n, bool second) {
        const Bytes source = RgbPicture(w, h, n);
        Bytes picture(source.size());
        for (int row = 0; row < h; ++row) {
            const int fieldRow = second ? std::min((row + 1) / 2, h / 2 - 1) : row / 2;
            std::copy_n(source.begin() + (2 * fieldRow + (second ? 0 : 1)) * stride, stride,
                        picture.begin() + row * stride);
        }
        return picture;
    };
    int filtered = 0;
    for (int k = 0; k < frames; ++k) {
        const Bytes a = field(std::max(k - 1, 0), true), b = field(k, false), c = field(k, true);
        Bytes m(b.size());
        for (std::size_t i = 0; i < m.size(); ++i)
            m[i] = std::max(std::min(a[i], b[i]), std::min(std::max(a[i], b[i]), c[i]));
        const auto differ = std::mismatch(m.begin(), m.end(), out[k].begin(), out[k].end());
        EXPECT_TRUE(differ.first == m.end()) << "frame " << k << " row " << (differ.first - m.begin()) / stride
                                             << " byte " << (differ.first - m.begin()) % stride;
        filtered += out[k] != b;
    }
    EXPECT_GT(filtered, 0) << "the median changed nothing: the test pictures prove nothing";
}

TEST(Pixels, UndecodableFrameIsReplacedByTheNextOne) {
    FixtureFile f;
    f.width = 16;
    f.height = 8;
    FixtureStream v;
    v.format = BitmapFormat(16, 8, 24, BI_RGB);
    v.length = 5;
    for (int n = 0; n < 5; ++n)
        v.chunks.push_back(n == 2 ? Bytes(10, 0) : RgbPicture(16, 8, n));  // frame 2 is cut short
    f.streams.push_back(v);
    TestRun t(WriteFile("holey.avi", BuildAvi(f)), Out("holey-out.avi"));
    t.settings.intMethod = InterpolationMethod::Coarse;
    ASSERT_EQ(t.Run(), conversionDone);
    const std::vector<Bytes> out = ReadPictures(Out("holey-out.avi"));
    ASSERT_EQ(out.size(), 5u);
    const int shown[5] = {0, 1, 3, 3, 4};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(out[k], RgbPicture(16, 8, shown[k])) << "frame " << k;
}

TEST(Pixels, LetterboxRowsAreBlackAndPictureInside) {
    const int w = 24, h = 32;
    TestRun t(MakeSource("box.avi", Spec(w, h, 3)), Out("box-out.avi"));
    t.settings.letterbox = LetterboxMode::FrameKept;
    t.settings.outputHeight = 24;  // frame keeps 32 rows, picture 24 rows from row 4
    t.settings.deintRes = InterlaceResampleMethod::Lanczos;
    ASSERT_EQ(t.Run(), conversionDone);
    const std::vector<Bytes> out = ReadPictures(Out("box-out.avi"));
    ASSERT_EQ(out.size(), 3u);
    const int stride = RowStride(w);
    for (const Bytes& f : out) {
        ASSERT_EQ(f.size(), static_cast<std::size_t>(stride * h));
        for (int row = 0; row < h; ++row) {
            const bool bar = row < 4 || row >= 28;
            const bool black = std::all_of(f.begin() + row * stride, f.begin() + row * stride + w * 3,
                                           [](std::uint8_t v) { return v == 0; });
            EXPECT_EQ(black, bar) << "row " << row;
        }
    }
}

TEST(Pixels, ScalarAndFastestLoopsWriteTheSameFile) {
    const std::string src = MakeSource("simd.avi", Spec(50, 36, 6, true));
    for (InterpolationMethod m :
         {InterpolationMethod::Lansin2, InterpolationMethod::Cubic, InterpolationMethod::Median5}) {
        Bytes files[2];
        for (int level = 0; level < 2; ++level) {
            const std::string out = Out("simd-" + std::to_string(level) + ".avi");
            TestRun t(src, out);
            t.settings.intMethod = m;
            t.settings.dstRate = 60;
            t.settings.deint = DeinterlaceMode::BothBottomFirst;
            t.settings.deintRes = InterlaceResampleMethod::InterlacedBottomFirst;
            t.settings.outputHeight = 30;
            t.run.kernels = level == 0 ? &ReferenceRowKernels() : nullptr;
            ASSERT_EQ(t.Run(), conversionDone);
            files[level] = ReadWholeFile(out);
            std::filesystem::remove(out);
        }
        EXPECT_GT(files[0].size(), 10000u);
        EXPECT_EQ(files[0], files[1]) << "method " << static_cast<int>(m);
    }
}

TEST(Pixels, EveryThreadCountGivesTheSameFileAsOneThread) {
    // 640 x 290 output rows: large enough to be split, for whole frames and
    // for single fields; the slots' resampling is split too, fields and
    // letterbox bars included.
    const std::string src = MakeSource("bands.avi", Spec(640, 96, 4));
    struct Case {
        InterlaceResampleMethod res;
        DeinterlaceMode deint;
        LetterboxMode letterbox;
    } cases[] = {
        {InterlaceResampleMethod::Cubic, DeinterlaceMode::Disabled, LetterboxMode::None},
        {InterlaceResampleMethod::Lanczos, DeinterlaceMode::BothTopFirst, LetterboxMode::FrameKept},
        {InterlaceResampleMethod::InterlacedTopFirst, DeinterlaceMode::BothBottomFirst, LetterboxMode::None},
    };
    for (const Case& c : cases) {
        Bytes oneThread;
        for (int threads : {1, 2, 3, 0}) {
            const std::string out = Out("bands-" + std::to_string(threads) + ".avi");
            TestRun t(src, out);
            t.settings.intMethod = InterpolationMethod::Lansin1;
            t.settings.dstRate = 40;
            t.settings.deintRes = c.res;
            t.settings.deint = c.deint;
            t.settings.letterbox = c.letterbox;
            t.settings.outputHeight = 290;  // bands of 144 and 146, or 96, 96 and 98 rows
            t.run.threads = threads;
            ASSERT_EQ(t.Run(), conversionDone);
            const Bytes file = ReadWholeFile(out);
            std::filesystem::remove(out);
            if (threads == 1) {
                oneThread = file;
                EXPECT_GT(file.size(), 640u * 3 * 96 * 3);  // three frames at least
            } else {
                EXPECT_EQ(file, oneThread) << threads << " threads";
            }
        }
    }
}

// ---- Audio -------------------------------------------------------------------------

TEST(Audio, BytesCarriedOverUnchangedAndNoAudioGivesOneStream) {
    const std::string src = MakeSource("aud.avi", Spec(16, 8, 10, true));
    TestRun t(src, Out("aud-out.avi"));
    ASSERT_EQ(t.Run(), conversionDone);
    EXPECT_EQ(ReadAudio(Out("aud-out.avi")), ReadAudio(src));
    EXPECT_EQ(ReadAudio(src).size(), 10u * 1280);

    TestRun silent(MakeSource("noaud.avi", Spec(16, 8, 4)), Out("noaud-out.avi"));
    ASSERT_EQ(silent.Run(), conversionDone);
    EXPECT_EQ(StreamCount(Out("noaud-out.avi")), 1);
}

TEST(Audio, FractionalChunksAt2997AndSilencePastTheEnd) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    const std::string src = Out("dat.avi");
    ASSERT_TRUE(
        RunFfmpeg("-f lavfi -i testsrc=size=32x24:rate=30000/1001:duration=1 -f lavfi -i "
                  "sine=frequency=300:sample_rate=48000:duration=1 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "
                  "-ac 2 " +
                  src));
    TestRun t(src, Out("dat-out.avi"));
    t.settings.dstRate = 29.97;
    t.settings.intMethod = InterpolationMethod::Coarse;
    ASSERT_EQ(t.Run(), conversionDone);
    // Chunk sizes straight from the file: readers may cut PCM into packets of their own.
    const Bytes file = ReadWholeFile(Out("dat-out.avi"));
    std::vector<int> chunk;
    for (const RiffChunk& top : RiffChildren(file, 12, file.size()))
        if (top.type == mmioFOURCC('m', 'o', 'v', 'i'))
            for (const RiffChunk& c : RiffChildren(file, top.at + 12, top.at + 8 + top.size))
                if (c.id == mmioFOURCC('0', '1', 'w', 'b')) chunk.push_back(static_cast<int>(c.size / 4));
    ASSERT_GE(chunk.size(), 29u);
    long total = 0;
    for (std::size_t k = 0; k < chunk.size(); ++k) {
        if (chunk[k] == 0) continue;
        EXPECT_TRUE(chunk[k] == 1601 || chunk[k] == 1602) << "chunk " << k << ": " << chunk[k];
        total += chunk[k];
    }
    // Positions are a running sum: after n chunks exactly trunc(n * 48000 / 29.97) samples.
    const std::size_t n = std::count_if(chunk.begin(), chunk.end(), [](int c) { return c != 0; });
    EXPECT_EQ(total, static_cast<long>(n * (48000 / 29.97)));
    // 29 frames (29.97003 to 29.97 fps): the audio is the source's first 29 chunks' worth, unchanged.
    EXPECT_EQ(n, 29u);
    const Bytes in = ReadAudio(src), out = ReadAudio(Out("dat-out.avi"));
    ASSERT_EQ(out.size(), static_cast<std::size_t>(total) * 4);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));
}

TEST(Audio, SourceAudioEndingEarlyIsPaddedWithSilence) {
    // 4 s of video with 3.51 s of 48 kHz audio: at the source's rate, and in
    // slow motion at 29.97 with 8-bit sound, whose silence is 0x80.
    const int samples = 168480;
    struct Case {
        double rate, speed;
        int bits;
    } cases[] = {{25, 1.0, 16}, {29.97, 0.5, 8}};
    for (const Case& c : cases) {
        const std::string out = Out("short-out.avi");
        TestRun t(MakeCountingSource("short.avi", 100, 25, 1, 48000, samples, c.bits), out);
        t.boxes.questionAnswer = IDYES;
        t.settings.dstRate = c.rate;
        t.settings.srcSpeed = c.speed;
        ASSERT_EQ(t.Run(), conversionDone) << c.rate;
        const std::size_t frames = ReadPictures(out).size();
        EXPECT_EQ(frames, c.speed == 1.0 ? 100u : 239u);
        const Bytes audio = ReadAudio(out), in = CountingAudio(samples, c.bits);
        const std::size_t sampleBytes = static_cast<std::size_t>(c.bits / 8);
        EXPECT_NEAR(static_cast<double>(audio.size() / sampleBytes), frames * 48000 / c.rate, 1.0) << c.rate;
        ASSERT_GT(audio.size(), in.size());
        EXPECT_TRUE(std::equal(in.begin(), in.end(), audio.begin())) << c.rate;
        const std::uint8_t silence = c.bits == 8 ? 0x80 : 0;
        EXPECT_TRUE(std::all_of(audio.begin() + static_cast<long>(in.size()), audio.end(), [silence](std::uint8_t b) {
            return b == silence;
        })) << c.rate;
        if (HaveFfmpeg()) {
            EXPECT_EQ(DecodeErrors(out), "") << c.rate;
        }
    }
}

TEST(Audio, StoredSoundEndingEarlyIsPaddedWithItsOwnSilence) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    // 4 s of video over 2 s of sound. A-law and µ-law have silence bytes of
    // their own; AC-3 has none we could write, and stays as it was.
    const struct {
        const char* codec;
        int rate;
        int silence;  // -1: not padded
    } cases[] = {{"pcm_alaw", 8000, 0xD5}, {"pcm_mulaw", 8000, 0xFF}, {"ac3", 48000, -1}};
    for (const auto& c : cases) {
        const std::string src = Out(std::string("law-") + c.codec + ".avi");
        ASSERT_TRUE(RunFfmpeg(
            "-f lavfi -i testsrc=size=16x8:rate=25:duration=4 -f lavfi -i sine=sample_rate=" + std::to_string(c.rate) +
            ":duration=2 -c:v rawvideo -pix_fmt bgr24 -c:a " + c.codec + " '" + src + "'"));
        const std::string out = Out("law-out.avi");
        TestRun t(src, out);
        t.boxes.questionAnswer = IDYES;
        ASSERT_EQ(t.Run(), conversionDone) << c.codec;
        const Bytes in = ReadAudio(src), audio = ReadAudio(out);
        ASSERT_GE(audio.size(), in.size()) << c.codec;
        EXPECT_TRUE(std::equal(in.begin(), in.end(), audio.begin())) << c.codec;
        // What FFmpeg decodes: 4 s where the format has a silence, else 2 s
        // (and the rest of AC-3's last frame of 32 ms).
        const std::string decoded =
            Capture("ffmpeg -v error -i '" + out + "' -map 0:a -f s16le -ac 1 -ar 8000 - | wc -c");
        EXPECT_NEAR(std::stol(decoded), c.silence < 0 ? 2 * 16000 : 4 * 16000, 512) << c.codec;
        if (c.silence < 0) {
            EXPECT_EQ(audio.size(), in.size()) << c.codec;
            continue;
        }
        EXPECT_EQ(audio.size(), 32000u) << c.codec;
        EXPECT_TRUE(std::all_of(audio.begin() + static_cast<long>(in.size()), audio.end(), [&](std::uint8_t b) {
            return b == c.silence;
        })) << c.codec;
        EXPECT_EQ(DecodeErrors(out), "") << c.codec;
    }
}

// ---- Segments ------------------------------------------------------------------------

// One 16x8 DIB frame grows a file by 8 + 384 + 16 bytes; audio by 8 + 1280 + 16.
struct SegmentedRun : TestRun {
    explicit SegmentedRun(const std::string& dest, int frames = 10)
        : TestRun(MakeSource("seg-src.avi", Spec(16, 8, frames, true)), dest) {
        settings.segment = 1;
        job.segmentLimit = 4000;
    }
};

TEST(Segments, SplitsWithNamesKeyFramesAndRestartingPositions) {
    const std::string dest = Out("seg.avi");
    SegmentedRun t(dest);
    t.settings.pOptions.dwKeyFrameEvery = 3;
    t.settings.pOptions.fccHandler = mmioFOURCC('F', 'F', 'V', '1');  // lossless, and it keeps delta frames
    ASSERT_EQ(t.Run(), conversionDone);
    EXPECT_FALSE(Exists(dest));
    EXPECT_TRUE(t.boxes.boxes.empty());
    std::size_t frames = 0;
    Bytes audio;
    int segments = 0;
    for (; Exists(SegmentName(dest, segments)); ++segments) {
        const std::string part = SegmentName(dest, segments);
        const std::vector<Bytes> pictures = ReadPictures(part);
        // A split after the last frame leaves the next segment open and empty.
        if (pictures.empty() && !Exists(SegmentName(dest, segments + 1))) {
            ++segments;
            break;
        }
        ASSERT_FALSE(pictures.empty()) << part;
        EXPECT_EQ(pictures[0], RgbPicture(16, 8, static_cast<int>(frames))) << part;
        frames += pictures.size();
        const Bytes a = ReadAudio(part);
        audio.insert(audio.end(), a.begin(), a.end());
        if (HaveFfmpeg()) {
            // A key frame first in every file, then every third frame.
            std::string keys;
            for (std::size_t i = 0; i < pictures.size(); ++i) keys += i % 3 ? '_' : 'K';
            EXPECT_EQ(ProbeKeyFlags(part), keys) << part;
            EXPECT_EQ(DecodeErrors(part), "") << part;
        }
    }
    EXPECT_GE(segments, 3);
    EXPECT_EQ(frames, 10u);
    EXPECT_EQ(audio, ReadAudio(MakeSource("seg-src.avi", Spec(16, 8, 10, true))));
    EXPECT_EQ(dest.substr(0, dest.size() - 4) + ".00.avi", SegmentName(dest, 0));
}

TEST(Segments, AudioIsContinuousOverSplitsWithFractionalChunks) {
    // 48 kHz at 29.97 fps: chunks of 1601.6 samples, so files begin at
    // fractional audio positions; together they hold the source sample for sample.
    const int samples = 2 * 48000;
    const std::string dest = Out("seg-aud.avi");
    TestRun t(MakeCountingSource("seg-aud-src.avi", 60, 30000, 1001, 48000, samples), dest);
    t.settings.dstRate = 29.97;
    t.settings.intMethod = InterpolationMethod::Coarse;
    t.settings.segment = 1;
    t.job.segmentLimit = 10000;  // three frames and their audio per file
    ASSERT_EQ(t.Run(), conversionDone);
    Bytes audio;
    std::size_t frames = 0;
    int files = 0;
    for (; Exists(SegmentName(dest, files)); ++files) {
        const Bytes part = ReadAudio(SegmentName(dest, files));  // from position 0 of each file
        audio.insert(audio.end(), part.begin(), part.end());
        frames += ReadPictures(SegmentName(dest, files)).size();
    }
    EXPECT_GE(files, 10);
    EXPECT_EQ(frames, 59u);
    EXPECT_NEAR(static_cast<double>(audio.size() / 2), frames * 48000 / 29.97, 1.0);
    const Bytes in = CountingAudio(samples);
    ASSERT_LE(audio.size(), in.size());
    EXPECT_TRUE(audio == Bytes(in.begin(), in.begin() + static_cast<long>(audio.size())));
}

// Frames larger than the headroom above the limit: the file is split before
// the frame that would carry it past the cap, not after.
TEST(Segments, NoFilePassesTheCapWithItsNextFrame) {
    const std::string dest = Out("big-frames.avi");
    TestRun t(MakeSource("big-src.avi", Spec(1000, 500, 6, true)), dest);  // 1.5 MB a frame
    t.settings.segment = 1;
    t.job.segmentLimit = 3 * SegmentHeadroom;
    ASSERT_EQ(t.Run(), conversionDone);
    std::size_t frames = 0;
    for (int n = 0; Exists(SegmentName(dest, n)); ++n) {
        const std::string part = SegmentName(dest, n);
        EXPECT_LE(std::filesystem::file_size(part), 4 * SegmentHeadroom) << part;
        const std::size_t here = ReadPictures(part).size();
        if (HaveFfmpeg()) {
            EXPECT_EQ(Probe(part, "stream", "nb_read_frames", "v:0", true), std::to_string(here)) << part;
        }
        frames += here;
    }
    EXPECT_EQ(frames, 6u);
}

TEST(Segments, DotlessPathAndDottedFolder) {
    const std::string folder = Out("clips.v2");
    std::filesystem::create_directories(folder);
    const std::string dest = folder + "/out";
    SegmentedRun t(dest, 6);
    ASSERT_EQ(t.Run(), conversionDone);
    EXPECT_TRUE(Exists(folder + "/out.00"));
    EXPECT_TRUE(Exists(folder + "/out.01"));
    EXPECT_FALSE(Exists(dest));
}

TEST(Segments, QuestionAskedOnceYesAndNo) {
    {
        SegmentedRun yes(Out("ask-yes.avi"));
        yes.settings.segment = 0;
        yes.boxes.questionAnswer = IDYES;
        ASSERT_EQ(yes.Run(), conversionDone);
        const std::vector<std::string> texts = yes.Texts();
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_NE(texts[0].find("2 GB (2048 MB) limit"), std::string::npos);
        EXPECT_TRUE(Exists(Out("ask-yes.02.avi")));
    }
    SegmentedRun no(Out("ask-no.avi"));
    no.settings.segment = 0;
    no.boxes.questionAnswer = IDNO;
    ASSERT_EQ(no.Run(), conversionStopped);
    EXPECT_EQ(no.Texts().size(), 1u);
    EXPECT_FALSE(Exists(Out("ask-no.00.avi")));
    const std::vector<Bytes> kept = ReadPictures(Out("ask-no.avi"));
    EXPECT_EQ(kept.size(), no.job.framesWritten);
    EXPECT_GE(kept.size(), 1u);
}

TEST(Segments, ExistingFirstSegmentReplacedOrKept) {
    for (int answer : {IDYES, IDNO}) {
        const std::string dest = Out(answer == IDYES ? "exist-y.avi" : "exist-n.avi");
        WriteFile(std::filesystem::path(SegmentName(dest, 0)).filename().string(), Bytes(7, 1));
        SegmentedRun t(dest);
        t.boxes.questionAnswer = answer;
        const RunResult result = t.Run();
        ASSERT_EQ(t.Texts().size(), 1u);
        EXPECT_NE(t.Texts()[0].find("already exists"), std::string::npos);
        if (answer == IDYES) {
            EXPECT_EQ(result, conversionDone);
            EXPECT_GT(ReadPictures(SegmentName(dest, 0)).size(), 0u);
            EXPECT_FALSE(Exists(dest));
        } else {
            EXPECT_EQ(result, conversionStopped);
            EXPECT_EQ(ReadWholeFile(SegmentName(dest, 0)), Bytes(7, 1));
            EXPECT_GT(ReadPictures(dest).size(), 0u);
        }
    }
}

TEST(Segments, FirstSegmentNameTakenByAFolderIsNeverRemoved) {
    const std::string dest = Out("seg-dir.avi");
    std::filesystem::create_directory(SegmentName(dest, 0));
    SegmentedRun t(dest);
    t.boxes.questionAnswer = IDYES;
    EXPECT_EQ(t.Run(), conversionCannotRename);
    EXPECT_TRUE(t.boxes.boxes.empty()) << "nothing to ask about";
    EXPECT_TRUE(std::filesystem::is_directory(SegmentName(dest, 0)));
    EXPECT_GT(ReadPictures(dest).size(), 0u);
}

TEST(Segments, RealTwoGigabyteSplitOptIn) {
    if (!std::getenv("TAVRICK_SLOW_TESTS")) GTEST_SKIP() << "set TAVRICK_SLOW_TESTS=1 (writes about 2.5 GB)";
    const std::string dest = Out("big.avi");
    TestRun t(MakeSource("big-src.avi", Spec(720, 576, 500, true)), dest);
    t.settings.intMethod = InterpolationMethod::Coarse;
    t.settings.dstRate = 100;  // 2000 frames of 1.24 MB
    t.settings.segment = 1;
    ASSERT_EQ(t.Run(), conversionDone);
    const auto first = std::filesystem::file_size(SegmentName(dest, 0));
    EXPECT_GT(first, SegmentLimit);
    EXPECT_LT(first, 0x80000000ull);
    EXPECT_GT(std::filesystem::file_size(SegmentName(dest, 1)), 0u);
    EXPECT_FALSE(Exists(SegmentName(dest, 2)));
    EXPECT_EQ(ReadPictures(SegmentName(dest, 0)).size() + ReadPictures(SegmentName(dest, 1)).size(), 2000u);
    std::filesystem::remove(SegmentName(dest, 0));
    std::filesystem::remove(SegmentName(dest, 1));
}

// ---- Stop, pause, questions and failures -----------------------------------------------

TEST(Control, PauseHoldsTheRunAndStopEndsItWithAPlayableFile) {
    const std::string src = MakeSource("long.avi", Spec(64, 48, 400));
    TestRun t(src, Out("stopped.avi"));
    t.settings.dstRate = 100;
    t.run.threads = 2;  // frames written on their own thread
    t.control.pauseRequested = 1;
    WorkerHandle worker;
    ASSERT_TRUE(StartWorker(worker, t.run));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(WaitForWorkerFor(worker, 0));
    EXPECT_EQ(GetThreadPriority(worker.threadId), THREAD_PRIORITY_IDLE) << "a paused worker idles";
    const auto stopAt = std::chrono::steady_clock::now();
    t.control.stopRequested = 1;
    EXPECT_EQ(WaitForWorker(worker), conversionStopped);
    // The first frame went out (on the writer thread) and the run held before the second.
    EXPECT_EQ(t.job.framesWritten, 1u) << "paused after the first frame";
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::milliseconds(400));
    EXPECT_TRUE(t.boxes.boxes.empty()) << "a stop shows nothing";
    EXPECT_EQ(ReadPictures(Out("stopped.avi")).size(), 1u);

    // Without pause, a stop mid-run keeps every frame written so far.
    TestRun u(src, Out("stopped2.avi"));
    u.settings.dstRate = 100;
    u.run.frontEnd.setProgressBar = [](void* c, int) { static_cast<TestRun*>(c)->control.stopRequested = 1; };
    u.run.frontEnd.setStatusText = nullptr;
    ASSERT_EQ(u.Run(), conversionStopped);
    EXPECT_EQ(u.job.framesWritten, 10u) << "stopped after the first progress report";
    EXPECT_EQ(ReadPictures(Out("stopped2.avi")).size(), 11u);
}

TEST(Control, WorkerReportsResultsAndKeepsTheTitle) {
    const std::string src = MakeSource("w.avi", Spec(16, 8, 3));
    struct Ui {
        std::string title = "Tavrick";
        std::vector<std::string> titles, order;
        MessageBoxRecorder* boxes;
    };
    TestRun t(src, Out("w-out.avi"));
    Ui ui{"Tavrick", {}, {}, &t.boxes};
    FrontEnd& f = t.run.frontEnd;
    f.context = &ui;
    f.setStatusText = nullptr;
    f.setProgressBar = nullptr;
    f.getMainTitle = [](void* c, char* s, int n) { std::snprintf(s, n, "%s", static_cast<Ui*>(c)->title.c_str()); };
    f.setMainTitle = [](void* c, const char* s) { static_cast<Ui*>(c)->titles.push_back(s); };
    f.messageBox = [](void* c, HWND owner, const char* text, const char* caption, UINT style) {
        return PresentToRecorder(static_cast<Ui*>(c)->boxes, owner, text, caption, style);
    };
    f.reportResult = [](void* c, int id, unsigned) {
        static_cast<Ui*>(c)->order.push_back("message " + std::to_string(id));
    };
    f.endProgress = [](void* c) { static_cast<Ui*>(c)->order.push_back("end"); };
    EXPECT_EQ(WorkerThread(t.run), conversionDone);
    ASSERT_GE(ui.titles.size(), 2u);
    EXPECT_EQ(ui.titles[ui.titles.size() - 2], "100% done - Tavrick");
    EXPECT_EQ(ui.titles.back(), "Tavrick");
    EXPECT_EQ(ui.order, (std::vector<std::string>{"message 117", "end"}));

    // Declining the overwrite question: 6, silent, the file untouched.
    ui.order.clear();
    t.boxes.questionAnswer = IDNO;
    const Bytes before = ReadWholeFile(Out("w-out.avi"));
    EXPECT_EQ(WorkerThread(t.run), conversionStopped);
    EXPECT_EQ(ui.order, std::vector<std::string>{"end"});
    EXPECT_EQ(ReadWholeFile(Out("w-out.avi")), before);
    ASSERT_EQ(t.Texts().size(), 1u);
    EXPECT_EQ(t.Texts()[0], "\"w-out.avi\" already exists. Overwrite it?");
    // Yes replaces it.
    t.boxes.questionAnswer = IDYES;
    EXPECT_EQ(WorkerThread(t.run), conversionDone);

    for (int code : {5, 7, 8, 9, 11, 12}) EXPECT_NE(ResultMessageOf(code).textId, 0) << code;
    EXPECT_EQ(ResultMessageOf(6).textId, 0);
    EXPECT_EQ(ResultMessageOf(0).textId, IDS_DONE);
}

TEST(Failures, OutputDeletedDuringTheRunIsNeverSuccess) {
    // The file being written, and a segment already closed, each removed at a progress report.
    const std::string src = MakeSource("gone.avi", Spec(16, 8, 40, true));
    for (int closedSegment = 0; closedSegment < 2; ++closedSegment) {
        const std::string dest = Out(closedSegment ? "gone-seg.avi" : "gone-out.avi");
        TestRun t(src, dest);
        t.settings.segment = 1;
        if (closedSegment) t.job.segmentLimit = 4000;
        t.run.frontEnd.setStatusText = nullptr;
        t.run.frontEnd.setProgressBar = [](void* c, int) {
            TestRun& run = *static_cast<TestRun*>(c);
            const std::string path =
                run.job.segmentIndex == 0 ? run.settings.destinationPath : SegmentName(run.settings.destinationPath, 0);
            std::filesystem::remove(path);
        };
        EXPECT_EQ(t.Run(), conversionCannotWrite) << closedSegment;
        EXPECT_NE(t.media.destination.failureDetail.find("was deleted while"), std::string::npos)
            << t.media.destination.failureDetail;
    }
}

TEST(Failures, IndexThatCannotBeWrittenIsNeverSuccess) {
    // A file-size limit that takes the frame but not the index after it.
    const std::string src = MakeSource("idx.avi", Spec(16, 8, 1));
    TestRun whole(src, Out("idx-whole.avi"));
    ASSERT_EQ(whole.Run(), conversionDone);
    const auto complete = std::filesystem::file_size(Out("idx-whole.avi"));
    struct rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit cut = before;
    cut.rlim_cur = complete - 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &cut), 0);
    TestRun t(src, Out("idx-cut.avi"));
    const RunResult result = t.Run();
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(result, conversionCannotWrite);
    EXPECT_EQ(t.media.destination.failureDetail, "File too large, writing the index to " + Out("idx-cut.avi"));
}

TEST(Failures, FilesLeftAfterRefusalsAndACancelledChoicePlay) {
    // An unknown compressor (7), one chosen in the options dialog that refuses
    // the frame size (8), an audio format the writer refuses (11), and the
    // options dialog cancelled (6).
    SourceSpec extra = Spec(16, 8, 3, true);
    extra.audioFormat = PcmFormat(2, 8000, 16, true);
    extra.audioFormat[16] = 4;  // cbSize: 4 bytes more than the 18 the destination is given
    struct Case {
        const char* name;
        SourceSpec source;
        std::uint32_t codec;
        bool cancel;
        RunResult result;
    } cases[] = {
        {"left-7.avi", Spec(16, 8, 3, true), mmioFOURCC('Z', 'Z', 'Z', 'Z'), false, destinationNoStream},
        {"left-8.avi", Spec(16, 8, 3), mmioFOURCC('d', 'v', 's', 'd'), false, destinationFormatRefused},
        {"left-11.avi", extra, mmioFOURCC('D', 'I', 'B', ' '), false, destinationAudioRefused},
        {"left-6.avi", Spec(16, 8, 3, true), mmioFOURCC('D', 'I', 'B', ' '), true, destinationDeclined},
    };
    for (const Case& c : cases) {
        TestRun t(MakeSource(std::string("src-") + c.name, c.source), Out(c.name));
        t.settings.pOptions.fccHandler = c.codec;
        if (c.cancel)
            t.run.frontEnd.chooseCompressOptions = [](void*, void*, std::uint32_t, std::int32_t, PAVISTREAM*,
                                                      AVICOMPRESSOPTIONS**) { return false; };
        else if (c.result == destinationFormatRefused)
            t.run.frontEnd.chooseCompressOptions = [](void*, void*, std::uint32_t, std::int32_t, PAVISTREAM*,
                                                      AVICOMPRESSOPTIONS**) { return true; };
        ASSERT_EQ(t.Run(), c.result) << c.name;
        EXPECT_EQ(StreamCount(Out(c.name)), 1) << c.name;
        EXPECT_TRUE(ReadPictures(Out(c.name)).empty()) << c.name;
        if (HaveFfmpeg()) {
            EXPECT_EQ(Probe(Out(c.name), "stream", "codec_name"), "rawvideo") << c.name;
            EXPECT_EQ(DecodeErrors(Out(c.name)), "") << c.name;
        }
    }
}

TEST(Failures, MissingFolderRejectingCompressorAndBadSettings) {
    const std::string src = MakeSource("f.avi", Spec(16, 8, 3));
    {
        TestRun t(src, Out("no-such-folder/out.avi"));
        EXPECT_EQ(ResultCode(t.Run()), 5);
    }
    {
        // Options given in advance that the compressor can't take: refused
        // before the file there is asked about, replaced or written.
        const std::string taken = WriteFile("dv.avi", Bytes{'k', 'e', 'e', 'p'});
        TestRun t(src, taken);
        t.boxes.questionAnswer = IDYES;
        t.settings.pOptions.fccHandler = mmioFOURCC('d', 'v', 's', 'd');  // DV takes only 720-wide frames
        EXPECT_EQ(ResultCode(t.Run()), 8);
        EXPECT_TRUE(t.media.source.isOpen);
        EXPECT_TRUE(t.boxes.boxes.empty());
        EXPECT_EQ(ReadWholeFile(taken), (Bytes{'k', 'e', 'e', 'p'}));
        EXPECT_EQ(t.media.destination.failureDetail.rfind("DV takes 720x576 at 25 fps", 0), 0u)
            << t.media.destination.failureDetail;
    }
    {
        // The source itself as the destination: refused before anything is asked or deleted.
        const Bytes before = ReadWholeFile(src);
        TestRun t(src, src);
        t.boxes.questionAnswer = IDYES;
        EXPECT_EQ(ResultCode(t.Run()), 5);
        EXPECT_TRUE(t.boxes.boxes.empty());
        EXPECT_EQ(ReadWholeFile(src), before);
    }
    TestRun t(src, Out("bad.avi"));
    t.settings.deintRes = static_cast<InterlaceResampleMethod>(12);
    EXPECT_EQ(ResultCode(t.Run()), 8);
    EXPECT_FALSE(Exists(Out("bad.avi")));
}

}  // namespace
