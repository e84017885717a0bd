// The frame getter and audio reads on files from another writer (the ffmpeg
// tool), checked against ffmpeg's own decoding of the same file.
#include "media/vfw/avifile.h"
#include "media/vfw/vfw.h"
#include "tests/media/avi_fixtures.h"
#include "tests/media/writer_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr int32_t kW = 50;  // 150 bytes of pixels, rows padded to 152
constexpr int32_t kH = 30;
constexpr int kFrames = 24;
constexpr uint8_t kVopStart[] = {0, 0, 1, 0xB6};
const std::string kSource = "-f lavfi -i testsrc2=size=50x30:rate=25 ";
const std::string kCount = " -frames:v 24 ";

struct Codec {
    const char* name;
    const char* args;
    uint32_t fourcc;  // biCompression the tool writes
};

const Codec kCodecs[] = {
    {"mjpeg", "-c:v mjpeg -q:v 4", mmioFOURCC('M', 'J', 'P', 'G')},
    {"mpeg4", "-c:v mpeg4 -bf 0 -g 6 -q:v 5", mmioFOURCC('F', 'M', 'P', '4')},
    {"h264", "-c:v libx264 -bf 0 -g 6 -pix_fmt yuv420p", mmioFOURCC('H', '2', '6', '4')},
    // Stored in decode order: positions must still follow display order.
    {"mpeg4_bframes", "-c:v mpeg4 -bf 2 -g 12 -q:v 5", mmioFOURCC('F', 'M', 'P', '4')},
    {"h264_bpyramid", "-c:v libx264 -bf 3 -b-pyramid normal -g 12 -pix_fmt yuv420p", mmioFOURCC('H', '2', '6', '4')},
    {"huffyuv", "-c:v huffyuv", mmioFOURCC('H', 'F', 'Y', 'U')},
    {"ffv1", "-c:v ffv1 -g 6 -pix_fmt yuv420p", mmioFOURCC('F', 'F', 'V', '1')},
    {"raw_topdown", "-c:v rawvideo -pix_fmt bgr24", BI_RGB},
    {"pal8", "-c:v rawvideo -pix_fmt pal8", BI_RGB},
};

class Decoders : public ::testing::TestWithParam<Codec> {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
        path = TempDir() + "/" + GetParam().name + ".avi";
        ASSERT_TRUE(RunFfmpeg(kSource + GetParam().args + kCount + "'" + path + "'")) << GetParam().args;
        reference = FfmpegBgr(path);
        ASSERT_EQ(reference.size(), size_t{kW} * 3 * kH * kFrames);
        ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
        ASSERT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0), AVIERR_OK);
    }
    void TearDown() override {
        AVIStreamRelease(video);
        AVIFileRelease(file);
    }
    Bytes Reference(int n) const {
        const size_t frame = size_t{kW} * 3 * kH;
        return Bytes(reference.begin() + n * frame, reference.begin() + (n + 1) * frame);
    }

    std::string path;
    Bytes reference;
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
};

TEST_P(Decoders, FramesMatchFfmpegInEveryOrder) {
    AVIFILEINFOA fi;
    ASSERT_EQ(AVIFileInfoA(file, &fi, sizeof fi), AVIERR_OK);
    EXPECT_EQ(fi.dwWidth, uint32_t{kW});
    EXPECT_EQ(fi.dwHeight, uint32_t{kH});
    AVISTREAMINFOA vi;
    ASSERT_EQ(AVIStreamInfoA(video, &vi, sizeof vi), AVIERR_OK);
    EXPECT_EQ(vi.dwLength, uint32_t{kFrames});
    BITMAPINFOHEADER stored;
    int32_t size = sizeof stored;
    AVIStreamReadFormat(video, 0, &stored, &size);
    EXPECT_EQ(stored.biCompression, GetParam().fourcc);

    // The request Source access makes: the file's size, 24-bit, bottom-up.
    BITMAPINFOHEADER want = {40, kW, kH, 1, 24, BI_RGB, 152 * kH, 0, 0, 0, 0};
    PGETFRAME g = AVIStreamGetFrameOpen(video, &want);
    ASSERT_NE(g, nullptr);
    const int sequential[kFrames] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                     12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};
    // Backwards, across key frames, inside a group and repeated.
    const int shuffled[] = {23, 5, 6, 0, 17, 12, 11, 18, 18, 2, 22, 7, 1, 13};
    for (const int* order : {sequential, shuffled}) {
        const size_t count = order == sequential ? kFrames : std::size(shuffled);
        for (size_t i = 0; i < count; ++i) {
            const int n = order[i];
            void* dib = AVIStreamGetFrame(g, static_cast<int32_t>(vi.dwStart) + n);
            ASSERT_NE(dib, nullptr) << "frame " << n;
            BITMAPINFOHEADER bi;
            std::memcpy(&bi, dib, sizeof bi);
            ASSERT_EQ(bi.biSizeImage, uint32_t{152 * kH});
            ASSERT_EQ(bi.biHeight, kH);
            const Bytes got = ToTopDownPacked(static_cast<const uint8_t*>(dib) + 40, kW, kH);
            ASSERT_EQ(got, Reference(n)) << GetParam().name << " frame " << n;
        }
    }
    EXPECT_EQ(AVIStreamGetFrame(g, kFrames), nullptr);
    // After running off the end it still seeks back.
    EXPECT_NE(AVIStreamGetFrame(g, 3), nullptr);
    AVIStreamGetFrameClose(g);
}

INSTANTIATE_TEST_SUITE_P(Media, Decoders, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

// Our getter's picture at position n, as ffmpeg lays out rows.
Bytes Picture(PGETFRAME g, int n) {
    void* dib = AVIStreamGetFrame(g, n);
    return dib ? ToTopDownPacked(static_cast<const uint8_t*>(dib) + 40, kW, kH) : Bytes{};
}

// Older MPEG-4 writers store a reference picture and the B-picture after it
// in one chunk, then an empty placeholder chunk ("packed bitstream").
// Rebuilds an ffmpeg file that way, with placeholders of no bytes or a "not
// coded" picture; positions must show the same pictures as the original.
TEST(PackedBitstream, ShowsTheOriginalsPicturesInDisplayOrder) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    const std::string plain = TempDir() + "/unpacked.avi";
    ASSERT_TRUE(RunFfmpeg(kSource + "-c:v mpeg4 -bf 1 -g 9 -q:v 5" + kCount + "'" + plain + "'"));
    const Bytes reference = FfmpegBgr(plain);
    const size_t frame = size_t{kW} * 3 * kH;
    ASSERT_EQ(reference.size(), frame * kFrames);

    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, plain.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0), AVIERR_OK);
    std::vector<Bytes> chunks;
    std::vector<bool> bPicture;
    for (int i = 0; i < kFrames; ++i) {
        Bytes c(1 << 16);
        int32_t bytes = 0;
        ASSERT_EQ(AVIStreamRead(video, i, 1, c.data(), static_cast<int32_t>(c.size()), &bytes, nullptr), AVIERR_OK);
        c.resize(bytes);
        const auto vop = std::search(c.begin(), c.end(), std::begin(kVopStart), std::end(kVopStart));
        ASSERT_NE(vop, c.end());
        bPicture.push_back(vop + 4 < c.end() && (vop[4] >> 6) == 2);
        chunks.push_back(std::move(c));
    }
    AVIStreamRelease(video);
    AVIFileRelease(file);
    ASSERT_TRUE(bPicture[2]) << "the tool wrote no B-pictures";

    // The mark by which decoders know a packed stream.
    const std::string mark = "DivX503b1393p";
    Bytes userData = {0, 0, 1, 0xB2};
    userData.insert(userData.end(), mark.begin(), mark.end());
    // A repeated frame (an empty chunk no packed chunk owes, after position
    // 10) repeats the picture before it; the later ones move one place on.
    for (const int repeatAt : {-1, 11})
        for (const Bytes& placeholder : {Bytes{}, Bytes{0, 0, 1, 0xB6, 0x50, 0x4F}}) {
            FixtureStream s;
            s.handler = mmioFOURCC('X', 'V', 'I', 'D');
            s.format = BitmapFormat(kW, kH, 24, mmioFOURCC('X', 'V', 'I', 'D'));
            for (int i = 0; i < kFrames; ++i) {
                Bytes c = i == 0 ? userData : Bytes{};
                c.insert(c.end(), chunks[i].begin(), chunks[i].end());
                const bool pair = !bPicture[i] && i + 1 < kFrames && bPicture[i + 1];
                if (pair) c.insert(c.end(), chunks[i + 1].begin(), chunks[i + 1].end());
                s.keys.push_back(i % 9 == 0);
                s.chunks.push_back(std::move(c));
                if (pair) {
                    s.keys.push_back(false);
                    s.chunks.push_back(placeholder);
                    ++i;
                }
            }
            ASSERT_EQ(s.chunks.size(), size_t{kFrames});
            if (repeatAt >= 0) {
                s.chunks.insert(s.chunks.begin() + repeatAt, Bytes{});
                s.keys.insert(s.keys.begin() + repeatAt, false);
            }
            s.length = kFrames;
            FixtureFile f;
            f.streams = {s};
            f.width = kW;
            f.height = kH;
            const std::string packed =
                WriteFile(placeholder.empty() ? "packed_empty.avi" : "packed_nvop.avi", BuildAvi(f));
            // ffmpeg reads the packed file as the original: the rebuild is a fair one.
            if (!placeholder.empty() && repeatAt < 0) {
                EXPECT_EQ(FfmpegBgr(packed), reference);
            }

            ASSERT_EQ(AVIFileOpenA(&file, packed.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
            ASSERT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0), AVIERR_OK);
            BITMAPINFOHEADER want = {40, kW, kH, 1, 24, BI_RGB, 152 * kH, 0, 0, 0, 0};
            PGETFRAME g = AVIStreamGetFrameOpen(video, &want);
            ASSERT_NE(g, nullptr);
            const int order[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15,
                                 16, 17, 18, 19, 20, 21, 22, 23, 19, 2, 10, 9,  23, 0,  14};
            for (const int n : order) {
                const int k = repeatAt < 0 || n < repeatAt ? n : n - 1;
                ASSERT_EQ(Picture(g, n), Bytes(reference.begin() + k * frame, reference.begin() + (k + 1) * frame))
                    << packed << " position " << n << ", repeat at " << repeatAt;
            }
            if (repeatAt >= 0) {
                EXPECT_EQ(Picture(g, kFrames), Bytes(reference.end() - frame, reference.end()));
            }
            AVIStreamGetFrameClose(g);
            AVIStreamRelease(video);
            AVIFileRelease(file);
        }
}

// Frames a recorder dropped leave empty chunks where the stored order has
// a gap in time; with B-frames that is not where the picture order has it.
// Each position shows what FFmpeg shows at that time: the picture with the
// latest time stamp at or before it, the one before the gap.
void ExpectFfmpegsPicturesAroundGaps(const std::string& codec) {
    const std::string path = TempDir() + "/dropped_bframes.avi";
    // FFmpeg's writer fills a gap in time stamps with empty chunks.
    ASSERT_TRUE(RunFfmpeg(kSource +
                          "-vf \"select='not(eq(n\\,5)+eq(n\\,11)+eq(n\\,12)+eq(n\\,19))'\" "
                          "-fps_mode passthrough " +
                          codec + " -frames:v 20 '" + path + "'"));
    const Bytes pictures = FfmpegBgr(path);
    const size_t frame = size_t{kW} * 3 * kH;
    ASSERT_EQ(pictures.size(), frame * 20);
    std::vector<long> stamps;
    const std::string listed =
        Capture("ffprobe -v error -show_entries frame=best_effort_timestamp -of csv=p=0 '" + path + "' 2>/dev/null");
    for (size_t at = 0; at < listed.size();) {
        const size_t end = std::min(listed.find('\n', at), listed.size());
        const std::string t = listed.substr(at, end - at);
        at = end + 1;
        if (t.find_first_not_of(" ,") == std::string::npos) continue;  // a side-data line
        // The last pictures, drained at the end, come without a stamp.
        stamps.push_back(std::isdigit(static_cast<unsigned char>(t[0])) ? std::stol(t) : stamps.back() + 1);
    }
    ASSERT_EQ(stamps.size(), 20u);

    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0), AVIERR_OK);
    const size_t empty =
        std::count_if(video->entries.begin(), video->entries.end(), [](const AviIndexEntry& e) { return e.size == 0; });
    ASSERT_EQ(empty, 4u) << "one empty chunk per dropped frame";
    BITMAPINFOHEADER want = {40, kW, kH, 1, 24, BI_RGB, 152 * kH, 0, 0, 0, 0};
    PGETFRAME g = AVIStreamGetFrameOpen(video, &want);
    ASSERT_NE(g, nullptr);
    const int positions = static_cast<int>(video->entries.size());
    std::vector<int> order(positions);
    for (int n = 0; n < positions; ++n) order[n] = n;
    order.insert(order.end(), {13, 6, 12, 5, 11, 0, 22, 4});
    for (const int n : order) {
        size_t k = 0;
        while (k + 1 < stamps.size() && stamps[k + 1] - stamps[0] <= n) ++k;
        ASSERT_EQ(Picture(g, n), Bytes(pictures.begin() + k * frame, pictures.begin() + (k + 1) * frame))
            << "position " << n << " should show picture " << k;
    }
    AVIStreamGetFrameClose(g);
    AVIStreamRelease(video);
    AVIFileRelease(file);
}

TEST(EmptyChunks, RepeatThePictureBeforeThemInDisplayOrder) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    for (const char* codec :
         {"-c:v mpeg4 -bf 2 -g 12 -q:v 5 -vtag XVID", "-c:v libx264 -bf 3 -b-pyramid normal -g 12 -pix_fmt yuv420p"}) {
        SCOPED_TRACE(codec);
        ExpectFfmpegsPicturesAroundGaps(codec);
        if (HasFatalFailure()) return;
    }
}
struct Audio {
    const char* name;
    const char* args;
    const char* raw;  // ffmpeg's raw output format for the stored samples
    int blockAlign;
};

class AudioReads : public ::testing::TestWithParam<Audio> {};

TEST_P(AudioReads, ReturnTheStoredBytes) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    const Audio& a = GetParam();
    const std::string path = TempDir() + "/" + a.name + ".avi";
    ASSERT_TRUE(RunFfmpeg(kSource + "-f lavfi -i sine=frequency=440:sample_rate=11025:duration=0.96 -c:v mjpeg " +
                          a.args + kCount + "'" + path + "'"));
    ASSERT_TRUE(RunFfmpeg("-i '" + path + "' -map 0:a -f " + a.raw + " '" + path + ".raw'"));
    const Bytes stored = ReadWholeFile(path + ".raw");
    ASSERT_GT(stored.size(), 1000u);

    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM audio = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &audio, streamtypeAUDIO, 0), AVIERR_OK);
    WAVEFORMATEX wf;
    int32_t size = sizeof wf;
    ASSERT_EQ(AVIStreamReadFormat(audio, 0, &wf, &size), AVIERR_OK);
    EXPECT_EQ(wf.nBlockAlign, a.blockAlign);
    AVISTREAMINFOA ai;
    ASSERT_EQ(AVIStreamInfoA(audio, &ai, sizeof ai), AVIERR_OK);
    EXPECT_EQ(uint64_t{ai.dwLength} * a.blockAlign, stored.size());

    // 1000 samples at a time: not a multiple of the tool's chunk size.
    Bytes got;
    std::vector<uint8_t> buf(1000 * a.blockAlign);
    for (uint32_t pos = 0; pos < ai.dwLength; pos += 1000) {
        int32_t bytes = 0, samples = 0;
        ASSERT_EQ(AVIStreamRead(audio, static_cast<int32_t>(ai.dwStart + pos), 1000, buf.data(),
                                static_cast<int32_t>(buf.size()), &bytes, &samples),
                  AVIERR_OK);
        got.insert(got.end(), buf.begin(), buf.begin() + bytes);
    }
    EXPECT_EQ(got, stored);
    AVIStreamRelease(audio);
    AVIFileRelease(file);
}

INSTANTIATE_TEST_SUITE_P(Media, AudioReads,
                         ::testing::Values(Audio{"pcm_u8_mono", "-c:a pcm_u8 -ac 1", "u8", 1},
                                           Audio{"pcm_s16_stereo", "-c:a pcm_s16le -ac 2", "s16le", 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AudioFormats, Mp3IsRefusedByAnEighteenByteRead) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    const std::string path = TempDir() + "/mp3.avi";
    ASSERT_TRUE(RunFfmpeg(kSource + "-f lavfi -i sine=sample_rate=44100:duration=0.96 -c:v mjpeg -c:a libmp3lame" +
                          kCount + "'" + path + "'"));
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM audio = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &audio, streamtypeAUDIO, 0), AVIERR_OK);
    uint8_t wf[18];
    int32_t size = sizeof wf;
    EXPECT_NE(AVIStreamReadFormat(audio, 0, wf, &size), AVIERR_OK);
    EXPECT_GT(size, 18);
    AVIStreamRelease(audio);
    AVIFileRelease(file);
}

}  // namespace
