// Bad input: cut-off, corrupted and lying files. Every call must come back
// with a status or an empty result; the sanitizer build catches the rest.
#include "media/vfw/avifile.h"
#include "tests/media/avi_fixtures.h"
#include "tests/media/writer_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t kW = 6;
constexpr int32_t kH = 4;  // rows of 20 bytes

FixtureFile Small(FixtureIndex index) {
    FixtureFile f;
    f.index = index;
    f.width = kW;
    f.height = kH;
    f.recLists = index == FixtureIndex::None;
    if (index == FixtureIndex::OpenDml) f.extensionFrom = 2;
    FixtureStream v;
    v.format = BitmapFormat(kW, kH, 24, BI_RGB);
    for (int n = 0; n < 4; ++n) v.chunks.push_back(n == 1 ? Bytes{} : RgbPicture(kW, kH, n));
    v.keys = {true, false, true, false};
    FixtureStream a;
    a.type = streamtypeAUDIO;
    a.suffix = "wb";
    a.sampleSize = 2;
    a.format = PcmFormat(1, 8000, 16, true);
    for (int n = 0; n < 4; ++n) a.chunks.push_back(Bytes(10 + 6 * n, static_cast<uint8_t>(n)));
    f.streams = {v, a};
    return f;
}

void Set32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4 && at + i < b.size(); ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

size_t Find(const Bytes& b, const char* fcc, size_t from = 0) {
    for (size_t i = from; i + 4 <= b.size(); ++i)
        if (std::memcmp(&b[i], fcc, 4) == 0) return i;
    return SIZE_MAX;
}

void ExpectOnlyStatuses(const std::string& path, const std::string& what) {
    for (AVIRESULT r : ExerciseFile(path)) ASSERT_TRUE(IsKnownStatus(r)) << what << ": status " << std::hex << r;
}

// Offsets worth damaging: every one in the first bytes (headers), every
// fourth one in the last bytes (the index), and a spread over the rest.
std::vector<size_t> Offsets(size_t size, size_t head, size_t tail, size_t spread, size_t step) {
    std::vector<size_t> at;
    for (size_t i = 0; i < std::min(size, head); i += step) at.push_back(i);
    for (size_t i = size > tail ? size - tail : 0; i < size; i += 4) at.push_back(i);
    for (size_t i = 0; i < spread; ++i) at.push_back(size * i / spread);
    std::sort(at.begin(), at.end());
    at.erase(std::unique(at.begin(), at.end()), at.end());
    return at;
}

// step 1 tries every header byte; codec files, slower to open, take every other.
void Batter(const std::string& name, const Bytes& original, size_t step = 1) {
    const std::string path = TempDir() + "/" + name + ".avi";
    WriteFile(name + ".avi", original);
    ASSERT_EQ(ExerciseFile(path).front(), AVIERR_OK) << name << " must open undamaged";

    for (size_t len : Offsets(original.size(), 600, 0, 64, step)) {
        WriteFile(name + ".avi", Bytes(original.begin(), original.begin() + len));
        ExpectOnlyStatuses(path, name + " cut at " + std::to_string(len));
        if (::testing::Test::HasFatalFailure()) return;
    }
    const uint32_t patterns[] = {0, 0xffffffffu, 0x7fffffffu, 0x80000001u};
    for (size_t at : Offsets(original.size(), 400, 256, 48, step * 2)) {
        for (uint32_t pattern : patterns) {
            Bytes damaged = original;
            Set32(damaged, at, pattern);
            WriteFile(name + ".avi", damaged);
            ExpectOnlyStatuses(path, name + " with " + std::to_string(pattern) + " at " + std::to_string(at));
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(BadInput, HandBuiltFilesCutAndCorrupted) {
    Batter("relative", BuildAvi(Small(FixtureIndex::Relative)));
    Batter("absolute", BuildAvi(Small(FixtureIndex::Absolute)));
    Batter("noindex", BuildAvi(Small(FixtureIndex::None)));
    Batter("opendml", BuildAvi(Small(FixtureIndex::OpenDml)));
}

TEST(BadInput, CodecFilesCutAndCorrupted) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    const std::string src = "-f lavfi -i testsrc2=size=16x8:rate=10 -f lavfi -i sine=sample_rate=8000:duration=0.4 ";
    const struct {
        const char* name;
        const char* args;
    } kinds[] = {
        {"mjpeg_pcm", "-c:v mjpeg -c:a pcm_s16le"},
        {"h264", "-c:v libx264 -bf 0 -g 2 -an"},
        {"pal8_mp3", "-c:v rawvideo -pix_fmt pal8 -c:a libmp3lame"},
    };
    for (const auto& k : kinds) {
        const std::string path = TempDir() + "/" + k.name + "_src.avi";
        ASSERT_TRUE(RunFfmpeg(src + k.args + " -frames:v 4 '" + path + "'")) << k.name;
        Batter(k.name, ReadWholeFile(path), 3);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

struct Opened {
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
    PAVISTREAM audio = nullptr;
    explicit Opened(const Bytes& data) {
        const std::string path = WriteFile("lying.avi", data);
        if (AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) return;
        AVIFileGetStream(file, &video, streamtypeVIDEO, 0);
        AVIFileGetStream(file, &audio, streamtypeAUDIO, 0);
    }
    ~Opened() {
        AVIStreamRelease(audio);
        AVIStreamRelease(video);
        AVIFileRelease(file);
    }
};

TEST(BadInput, HugeFrameSizesGetNoFrameGetter) {
    for (int32_t side : {60000, -60000, 16385}) {
        FixtureFile f = Small(FixtureIndex::Relative);
        f.streams[0].format = BitmapFormat(side, side, 24, BI_RGB);
        Opened o(BuildAvi(f));
        ASSERT_NE(o.video, nullptr);
        EXPECT_EQ(AVIStreamGetFrameOpen(o.video, nullptr), nullptr) << side;
        // Nor can a caller ask for such a picture from a sane stream.
        Opened sane(BuildAvi(Small(FixtureIndex::Relative)));
        BITMAPINFOHEADER want = {40, 40000, 40000, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        EXPECT_EQ(AVIStreamGetFrameOpen(sane.video, &want), nullptr);
    }
    // Within the limits, but no chunk of the file could hold one such
    // uncompressed picture: nothing to show, and nothing worth allocating for.
    FixtureFile f = Small(FixtureIndex::Relative);
    f.streams[0].format = BitmapFormat(4000, 4000, 24, BI_RGB);
    Opened o(BuildAvi(f));
    ASSERT_NE(o.video, nullptr);
    EXPECT_EQ(AVIStreamGetFrameOpen(o.video, nullptr), nullptr);
}

TEST(BadInput, LyingIndexEntriesLoseOnlyTheirOwnFrame) {
    Bytes b = BuildAvi(Small(FixtureIndex::Relative));
    const size_t idx1 = Find(b, "idx1");
    ASSERT_NE(idx1, SIZE_MAX);
    // Entries alternate video/audio: entry 4 is video frame 2. Give it a size
    // that runs far past the end of the file.
    Set32(b, idx1 + 8 + 4 * 16 + 12, 0xfffffff0u);
    Opened o(b);
    ASSERT_NE(o.video, nullptr);
    AVISTREAMINFOA vi;
    AVIStreamInfoA(o.video, &vi, sizeof vi);
    EXPECT_EQ(vi.dwLength, 4u);
    EXPECT_EQ(vi.dwSuggestedBufferSize, uint32_t{20 * kH}) << "a lying size is no reason to allocate";
    PGETFRAME g = AVIStreamGetFrameOpen(o.video, nullptr);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(AVIStreamGetFrame(g, 2), nullptr);
    void* dib = AVIStreamGetFrame(g, 3);
    ASSERT_NE(dib, nullptr);
    const uint8_t* px = static_cast<const uint8_t*>(dib) + 40;
    EXPECT_EQ(Bytes(px, px + 20 * kH), RgbPicture(kW, kH, 3));
    AVIStreamGetFrameClose(g);
}

TEST(BadInput, CutOffFilesKeepWhatTheyHold) {
    // Cut inside the last video frame, before the index: the reader falls back
    // to scanning and keeps the whole frames.
    const Bytes whole = BuildAvi(Small(FixtureIndex::Relative));
    size_t last = 0;
    for (int n = 0; n < 4; ++n) last = Find(whole, "00dc", last + 4);  // the fourth frame's chunk
    ASSERT_NE(last, SIZE_MAX);
    Opened o(Bytes(whole.begin(), whole.begin() + last + 8 + 30));
    ASSERT_NE(o.video, nullptr);
    EXPECT_EQ(o.video->entries.size(), 3u);
    PGETFRAME g = AVIStreamGetFrameOpen(o.video, nullptr);
    ASSERT_NE(g, nullptr);
    EXPECT_NE(AVIStreamGetFrame(g, 2), nullptr);
    EXPECT_EQ(AVIStreamGetFrame(g, 3), nullptr);
    AVIStreamGetFrameClose(g);
}

TEST(BadInput, BrokenIndexesFallBack) {
    // A super index that claims four billion entries: the standard idx1 serves.
    Bytes odml = BuildAvi(Small(FixtureIndex::OpenDml));
    const size_t indx = Find(odml, "indx");
    ASSERT_NE(indx, SIZE_MAX);
    Set32(odml, indx + 8 + 4, 0xffffffffu);
    Set32(odml, indx + 8 + 24, 0x7fffff00u);  // and its first entry points nowhere
    {
        Opened o(odml);
        ASSERT_NE(o.video, nullptr);
        EXPECT_EQ(o.video->entries.size(), 2u) << "idx1 covers the first form";
    }
    // A standard index stored in 'indx' itself, with a base that wraps past
    // 2^64: the idx1 serves, and the frames are the right ones.
    FixtureFile one = Small(FixtureIndex::OpenDml);
    one.extensionFrom = SIZE_MAX;
    Bytes wrapped = BuildAvi(one);
    const size_t super = Find(wrapped, "indx");
    ASSERT_NE(super, SIZE_MAX);
    wrapped[super + 8 + 3] = 1;                   // index of chunks
    Set32(wrapped, super + 8 + 4, 2);             // two entries in use
    Set32(wrapped, super + 8 + 12, 0xffffff00u);  // base, low half
    Set32(wrapped, super + 8 + 16, 0xffffffffu);  // base, high half
    Set32(wrapped, super + 8 + 24, 0x200);        // base + 0x200 wraps to 0x100
    Set32(wrapped, super + 8 + 28, 20 * kH);
    {
        Opened o(wrapped);
        ASSERT_NE(o.video, nullptr);
        EXPECT_EQ(o.video->entries.size(), 4u);
        PGETFRAME g = AVIStreamGetFrameOpen(o.video, nullptr);
        ASSERT_NE(g, nullptr);
        const auto* px = static_cast<const uint8_t*>(AVIStreamGetFrame(g, 3));
        ASSERT_NE(px, nullptr);
        EXPECT_EQ(Bytes(px + 40, px + 40 + 20 * kH), RgbPicture(kW, kH, 3));
        AVIStreamGetFrameClose(g);
    }
    // An idx1 whose offsets fit neither base: scanning finds the chunks.
    Bytes b = BuildAvi(Small(FixtureIndex::Relative));
    const size_t idx1 = Find(b, "idx1");
    for (size_t e = 0; e < 8; ++e) Set32(b, idx1 + 8 + e * 16 + 8, 3);
    {
        Opened o(b);
        ASSERT_NE(o.video, nullptr);
        EXPECT_EQ(o.video->entries.size(), 4u);
        EXPECT_FALSE(o.file->hasIndex);
    }
    // A 'movi' list and the RIFF claiming to run far past the end of the file.
    Bytes none = BuildAvi(Small(FixtureIndex::None));
    Set32(none, 4, 0xfffffff0u);
    Set32(none, Find(none, "movi") - 4, 0xfffffff0u);
    {
        Opened o(none);
        ASSERT_NE(o.video, nullptr);
        EXPECT_EQ(o.video->entries.size(), 4u);
        ASSERT_NE(o.audio, nullptr);
        AVISTREAMINFOA ai;
        AVIStreamInfoA(o.audio, &ai, sizeof ai);
        EXPECT_EQ(ai.dwLength, (10u + 16 + 22 + 28) / 2);
    }
}

}  // namespace

namespace {

size_t VideoFrames(const Opened& o) { return o.video ? o.video->entries.size() : 0; }

}  // namespace

TEST(BadInput, UnfinishedRecordingsAreRecoveredByAScan) {
    // What a recorder stopped without finishing leaves: 'movi' says 4 bytes, the
    // RIFF ends there, every length is 0 and there is no index, while the
    // chunks follow. Made from an FFmpeg file; FFmpeg reads every chunk of it.
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    const std::string src = TempDir() + "/recording_src.avi";
    ASSERT_TRUE(
        RunFfmpeg("-f lavfi -i testsrc2=size=32x24:rate=25 -f lavfi -i sine=sample_rate=8000 -t 2 "
                  "-c:v mjpeg -c:a pcm_s16le '" +
                  src + "'"));
    const Bytes whole = ReadWholeFile(src);
    Bytes b(whole.begin(), whole.begin() + Find(whole, "idx1"));
    const size_t movi = Find(b, "movi") - 8;
    const size_t cutAtMovi = b.size();
    for (uint32_t moviSize : {4u, 0u}) {
        b.resize(cutAtMovi);
        Set32(b, 4, static_cast<uint32_t>(movi + 12 - 8));
        Set32(b, movi + 4, moviSize);
        Set32(b, Find(b, "avih") + 8 + 16, 0);
        for (size_t at = Find(b, "strh"); at != SIZE_MAX; at = Find(b, "strh", at + 4)) Set32(b, at + 8 + 32, 0);
        const std::string path = WriteFile("unfinished.avi", b);
        Opened o(b);
        EXPECT_EQ(VideoFrames(o), 50u) << moviSize;
        EXPECT_TRUE(o.file && AviFileRecoveredByScan(o.file));
        ASSERT_NE(o.audio, nullptr);
        AVISTREAMINFOA ai;
        AVIStreamInfoA(o.audio, &ai, sizeof ai);
        EXPECT_EQ(ai.dwLength, 16000u);
        if (moviSize == 4) {
            EXPECT_EQ(Probe(path, "stream", "nb_read_packets", "v:0 -count_packets"), "50") << "FFmpeg's count";
            PGETFRAME g = AVIStreamGetFrameOpen(o.video, nullptr);
            ASSERT_NE(g, nullptr);
            EXPECT_NE(AVIStreamGetFrame(g, 49), nullptr);
            AVIStreamGetFrameClose(g);
        }
    }
    // The finished file is no recovery; nor is one whose idx1 is merely cut off.
    Opened finished(whole);
    EXPECT_EQ(VideoFrames(finished), 50u);
    EXPECT_FALSE(AviFileRecoveredByScan(finished.file));
}

TEST(BadInput, ACutOffExtensionPartKeepsWhatItHolds) {
    // An OpenDML file cut inside its AVIX part: that part's 'ix##' index went
    // with the end, the super index and idx1 name only what comes before it.
    FixtureFile f = Small(FixtureIndex::OpenDml);
    f.streams[0].chunks[1] = RgbPicture(kW, kH, 1);  // FFmpeg counts no empty chunk
    for (auto& s : f.streams) s.chunks.resize(10, s.chunks.back());
    f.extensionFrom = 3;
    const Bytes whole = BuildAvi(f);
    const size_t avix = Find(whole, "AVIX");
    size_t seventh = avix;  // video frame 6's chunk, the 4th of the part
    for (int n = 0; n < 4; ++n) seventh = Find(whole, "00dc", seventh + 4);
    const Bytes cut(whole.begin(), whole.begin() + seventh + 8 + 30);
    Opened o(cut);
    EXPECT_EQ(VideoFrames(o), 6u) << "3 indexed, 3 whole in the cut part";
    EXPECT_TRUE(AviFileRecoveredByScan(o.file));
    ASSERT_NE(o.video, nullptr);
    PGETFRAME g = AVIStreamGetFrameOpen(o.video, nullptr);
    ASSERT_NE(g, nullptr);
    const auto* px = static_cast<const uint8_t*>(AVIStreamGetFrame(g, 5));
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(Bytes(px + 40, px + 40 + 20 * kH), RgbPicture(kW, kH, 3)) << "frames 3.. repeat chunk 3";
    AVIStreamGetFrameClose(g);
    if (HaveFfmpeg()) {
        const std::string path = WriteFile("cut_avix.avi", cut);
        EXPECT_EQ(Probe(path, "stream", "nb_read_packets", "v:0 -count_packets"), "6") << "FFmpeg's count";
    }
    Opened intact(whole);
    EXPECT_EQ(VideoFrames(intact), 10u);
    EXPECT_FALSE(AviFileRecoveredByScan(intact.file));
    // An idx1 cut after its first entries: the chunks it no longer names are scanned.
    const Bytes plain = BuildAvi(Small(FixtureIndex::Relative));
    Opened shortIndex(Bytes(plain.begin(), plain.begin() + Find(plain, "idx1") + 8 + 3 * 16));
    EXPECT_EQ(VideoFrames(shortIndex), 4u);
    ASSERT_NE(shortIndex.video, nullptr);
    EXPECT_TRUE(shortIndex.video->entries[0].flags & kAviEntryKey) << "what the index named keeps its flags";
}
