// The reader on files whose every byte the test chose.
#include "media/vfw/avifile.h"
#include "tests/media/avi_fixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <filesystem>

namespace {

constexpr int32_t kW = 22;  // 66 bytes of pixels, rows padded to 68
constexpr int32_t kH = 10;

struct Opened {
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
    PAVISTREAM audio = nullptr;
    ~Opened() {
        AVIStreamRelease(audio);
        AVIStreamRelease(video);
        AVIFileRelease(file);
    }
};

void OpenAll(const std::string& path, Opened& o) {
    ASSERT_EQ(AVIFileOpenA(&o.file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK) << path;
    AVIFileGetStream(o.file, &o.video, streamtypeVIDEO, 0);
    AVIFileGetStream(o.file, &o.audio, streamtypeAUDIO, 0);
}

// Video: six frames, the fourth one a zero-length chunk; audio: 16-bit stereo
// in chunks of uneven sizes, one of them empty.
const std::vector<uint32_t> kAudioChunkSamples = {100, 0, 37, 250, 64, 1};

FixtureFile RgbAndPcm(FixtureIndex index) {
    FixtureFile f;
    f.index = index;
    f.width = kW;
    f.height = kH;
    FixtureStream v;
    v.type = streamtypeVIDEO;
    v.scale = 1001;
    v.rate = 30000;
    v.name = "picture";
    v.format = BitmapFormat(kW, kH, 24, BI_RGB);
    for (int n = 0; n < 6; ++n) v.chunks.push_back(n == 3 ? Bytes{} : RgbPicture(kW, kH, n));
    v.keys = {true, false, false, true, false, false};
    FixtureStream a;
    a.type = streamtypeAUDIO;
    a.suffix = "wb";
    a.rate = 8000;
    a.sampleSize = 4;
    a.format = PcmFormat(2, 8000, 16, true);
    uint8_t next = 1;
    for (uint32_t samples : kAudioChunkSamples) {
        Bytes c(samples * 4);
        for (auto& x : c) x = next++;
        a.chunks.push_back(c);
    }
    f.streams = {v, a};
    return f;
}

Bytes AllAudio(const FixtureFile& f) {
    Bytes all;
    for (const auto& c : f.streams[1].chunks) all.insert(all.end(), c.begin(), c.end());
    return all;
}

const uint8_t* Pixels(void* dib) { return static_cast<const uint8_t*>(dib) + 40; }

class IndexKinds : public ::testing::TestWithParam<FixtureIndex> {};

TEST_P(IndexKinds, StreamsReadBackAsWritten) {
    FixtureFile f = RgbAndPcm(GetParam());
    if (GetParam() == FixtureIndex::None) f.recLists = true;
    if (GetParam() == FixtureIndex::OpenDml) f.extensionFrom = 4;
    const std::string path = WriteFile("kinds.avi", BuildAvi(f));
    Opened o;
    OpenAll(path, o);
    ASSERT_NE(o.video, nullptr);
    ASSERT_NE(o.audio, nullptr);

    AVIFILEINFOA fi;
    ASSERT_EQ(AVIFileInfoA(o.file, &fi, sizeof fi), AVIERR_OK);
    EXPECT_EQ(fi.dwWidth, uint32_t{kW});
    EXPECT_EQ(fi.dwHeight, uint32_t{kH});
    EXPECT_EQ(fi.dwStreams, 2u);

    AVISTREAMINFOA vi;
    ASSERT_EQ(AVIStreamInfoA(o.video, &vi, sizeof vi), AVIERR_OK);
    EXPECT_EQ(vi.fccType, streamtypeVIDEO);
    EXPECT_EQ(vi.dwScale, 1001u);
    EXPECT_EQ(vi.dwRate, 30000u);
    EXPECT_EQ(vi.dwLength, 6u) << "the header's length of 0 is raised to the indexed count";
    EXPECT_EQ(vi.dwSuggestedBufferSize, uint32_t{68 * kH});
    EXPECT_STREQ(vi.szName, "picture");
    AVISTREAMINFOA ai;
    ASSERT_EQ(AVIStreamInfoA(o.audio, &ai, sizeof ai), AVIERR_OK);
    EXPECT_EQ(ai.dwLength, 452u);
    EXPECT_EQ(ai.dwSampleSize, 4u);
    EXPECT_EQ(ai.dwSuggestedBufferSize, 1000u);

    // Key flags: from the index where there is one (OpenDML's delta bit, idx1's
    // key flag); a scan knows none.
    const auto& entries = o.video->entries;
    ASSERT_EQ(entries.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        const bool key = (entries[i].flags & kAviEntryKey) != 0;
        EXPECT_EQ(key, GetParam() != FixtureIndex::None && f.streams[0].keys[i]) << "entry " << i;
    }

    PGETFRAME g = AVIStreamGetFrameOpen(o.video, nullptr);
    ASSERT_NE(g, nullptr);
    // Out of order on purpose; frame 3 is the empty chunk and repeats frame 2.
    for (int n : {5, 0, 3, 2, 1, 4, 3}) {
        void* dib = AVIStreamGetFrame(g, n);
        ASSERT_NE(dib, nullptr) << n;
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, dib, sizeof bi);
        EXPECT_EQ(bi.biWidth, kW);
        EXPECT_EQ(bi.biHeight, kH);
        EXPECT_EQ(bi.biBitCount, 24);
        ASSERT_EQ(bi.biSizeImage, uint32_t{68 * kH});
        const Bytes want = RgbPicture(kW, kH, n == 3 ? 2 : n);
        EXPECT_EQ(Bytes(Pixels(dib), Pixels(dib) + bi.biSizeImage), want) << "frame " << n;
    }
    EXPECT_EQ(AVIStreamGetFrame(g, 6), nullptr);
    EXPECT_EQ(AVIStreamGetFrame(g, -1), nullptr);
    EXPECT_EQ(AVIStreamGetFrameClose(g), AVIERR_OK);

    // Audio in pieces of 33 samples crosses every chunk boundary.
    const Bytes stored = AllAudio(f);
    Bytes got;
    for (int32_t pos = 0; pos < 452; pos += 33) {
        uint8_t buf[33 * 4];
        int32_t bytes = -1, samples = -1;
        ASSERT_EQ(AVIStreamRead(o.audio, pos, 33, buf, sizeof buf, &bytes, &samples), AVIERR_OK) << pos;
        EXPECT_EQ(bytes, samples * 4);
        EXPECT_EQ(samples, std::min(33, 452 - pos)) << "a count past the end is clipped";
        got.insert(got.end(), buf, buf + bytes);
    }
    EXPECT_EQ(got, stored);
}

INSTANTIATE_TEST_SUITE_P(Reader, IndexKinds,
                         ::testing::Values(FixtureIndex::Relative, FixtureIndex::Absolute, FixtureIndex::None,
                                           FixtureIndex::OpenDml));

TEST(Reader, OpenDmlExtensionFramesNeedTheSuperIndex) {
    // The idx1 of an OpenDML file covers the first form only: every frame past
    // it is reachable only through 'indx' and the 'ix##' chunks.
    FixtureFile f = RgbAndPcm(FixtureIndex::OpenDml);
    f.extensionFrom = 2;
    Opened o;
    OpenAll(WriteFile("odml.avi", BuildAvi(f)), o);
    ASSERT_NE(o.video, nullptr);
    EXPECT_EQ(o.video->entries.size(), 6u);
    uint8_t buf[2000];
    int32_t bytes = 0, samples = 0;
    ASSERT_EQ(AVIStreamRead(o.video, 5, 1, buf, sizeof buf, &bytes, &samples), AVIERR_OK);
    ASSERT_EQ(bytes, 68 * kH);
    EXPECT_EQ(Bytes(buf, buf + bytes), RgbPicture(kW, kH, 5));
}

TEST(Reader, AudioReadEdges) {
    FixtureFile f = RgbAndPcm(FixtureIndex::Relative);
    f.streams[1].start = 100;
    Opened o;
    OpenAll(WriteFile("edges.avi", BuildAvi(f)), o);
    ASSERT_NE(o.audio, nullptr);
    const Bytes stored = AllAudio(f);
    uint8_t buf[4096];
    int32_t bytes = -1, samples = -1;
    // The origin is dwStart.
    ASSERT_EQ(AVIStreamRead(o.audio, 100, 2, buf, sizeof buf, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(Bytes(buf, buf + 8), Bytes(stored.begin(), stored.begin() + 8));
    EXPECT_NE(AVIStreamRead(o.audio, 99, 2, buf, sizeof buf, &bytes, &samples), AVIERR_OK);
    // A start past the end fails; the last sample is still there.
    EXPECT_NE(AVIStreamRead(o.audio, 100 + 452, 1, buf, sizeof buf, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 0);
    ASSERT_EQ(AVIStreamRead(o.audio, 100 + 451, 10, buf, sizeof buf, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 1);
    EXPECT_EQ(Bytes(buf, buf + 4), Bytes(stored.end() - 4, stored.end()));
    // Without a buffer: the size the read needs.
    ASSERT_EQ(AVIStreamRead(o.audio, 100, 50, nullptr, 0, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(bytes, 200);
    EXPECT_EQ(samples, 50);
    // A buffer smaller than one sample can't take anything; a larger one takes
    // whole samples only.
    EXPECT_EQ(AVIStreamRead(o.audio, 100, 50, buf, 3, &bytes, &samples), AVIERR_BUFFERTOOSMALL);
    ASSERT_EQ(AVIStreamRead(o.audio, 100, 50, buf, 10, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 2);
    EXPECT_EQ(bytes, 8);
    // "Convenient" reads the rest of the chunk holding the start.
    ASSERT_EQ(AVIStreamRead(o.audio, 100 + 90, AVISTREAMREAD_CONVENIENT, buf, sizeof buf, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 10);
}

TEST(Reader, FormatReadsRefuseLongerFormats) {
    FixtureFile f = RgbAndPcm(FixtureIndex::Relative);
    f.streams[1].format = PcmFormat(2, 8000, 16, false);  // 16 bytes
    Opened o;
    OpenAll(WriteFile("pcm16.avi", BuildAvi(f)), o);
    ASSERT_NE(o.audio, nullptr);
    WAVEFORMATEX wf;
    std::memset(&wf, 0xAA, sizeof wf);
    int32_t size = sizeof wf;
    ASSERT_EQ(AVIStreamReadFormat(o.audio, 0, &wf, &size), AVIERR_OK);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(wf.nChannels, 2);
    EXPECT_EQ(wf.nBlockAlign, 4);
    EXPECT_EQ(wf.cbSize, 0) << "the part the file didn't fill is cleared";

    // An MPEG layer-3 format carries 12 bytes after the WAVEFORMATEX.
    Bytes mp3 = PcmFormat(2, 44100, 0, true);
    mp3[0] = 0x55;
    mp3[16] = 12;
    mp3.resize(30, 1);
    f.streams[1].format = mp3;
    f.streams[1].sampleSize = 0;
    Opened m;
    OpenAll(WriteFile("mp3.avi", BuildAvi(f)), m);
    ASSERT_NE(m.audio, nullptr);
    size = sizeof wf;
    EXPECT_EQ(AVIStreamReadFormat(m.audio, 0, &wf, &size), AVIERR_BUFFERTOOSMALL);
    EXPECT_EQ(size, 30);
    EXPECT_EQ(wf.wFormatTag, 0x55);
    size = 0;
    ASSERT_EQ(AVIStreamReadFormat(m.audio, 0, nullptr, &size), AVIERR_OK);
    EXPECT_EQ(size, 30);
    // Without a sample size every chunk is one sample.
    AVISTREAMINFOA ai;
    AVIStreamInfoA(m.audio, &ai, sizeof ai);
    EXPECT_EQ(ai.dwLength, 6u);
}

TEST(Reader, HeaderFieldsAndFrameRectangle) {
    FixtureFile f = RgbAndPcm(FixtureIndex::Relative);
    FixtureStream& v = f.streams[0];
    v.start = 7;
    v.length = 40;  // more than the file holds: not believed
    v.suggestedBuffer = 123;
    v.frame[2] = 20;
    v.frame[3] = 8;
    Opened o;
    OpenAll(WriteFile("rect.avi", BuildAvi(f)), o);
    AVISTREAMINFOA vi;
    ASSERT_EQ(AVIStreamInfoA(o.video, &vi, sizeof vi), AVIERR_OK);
    EXPECT_EQ(vi.dwStart, 7u);
    EXPECT_EQ(vi.dwLength, 6u);
    EXPECT_EQ(vi.dwSuggestedBufferSize, uint32_t{68 * kH}) << "the largest chunk";
    EXPECT_EQ(vi.rcFrame.right, 20);
    EXPECT_EQ(vi.rcFrame.bottom, 8);
    AVIFILEINFOA fi;
    ASSERT_EQ(AVIFileInfoA(o.file, &fi, sizeof fi), AVIERR_OK);
    EXPECT_EQ(fi.dwWidth, 20u) << "the frame rectangle wins over the format";
    EXPECT_EQ(fi.dwHeight, 8u);

    PGETFRAME g = AVIStreamGetFrameOpen(o.video, nullptr);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(AVIStreamGetFrame(g, 6), nullptr) << "before the start";
    void* dib = AVIStreamGetFrame(g, 7 + 1);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(Bytes(Pixels(dib), Pixels(dib) + 68 * kH), RgbPicture(kW, kH, 1));
    EXPECT_EQ(AVIStreamGetFrame(g, 7 + 6), nullptr) << "past the indexed frames";
    AVIStreamGetFrameClose(g);
}

TEST(Reader, ShortStreamHeaders) {
    for (uint32_t strhSize : {48u, 20u}) {
        FixtureFile f = RgbAndPcm(FixtureIndex::Relative);
        f.streams[0].strhSize = strhSize;
        f.streams[0].frame[2] = 99;  // cut off with the rest
        Opened o;
        OpenAll(WriteFile("short.avi", BuildAvi(f)), o);
        ASSERT_NE(o.video, nullptr) << strhSize;
        AVISTREAMINFOA vi;
        ASSERT_EQ(AVIStreamInfoA(o.video, &vi, sizeof vi), AVIERR_OK);
        EXPECT_EQ(vi.rcFrame.right, 0);
        EXPECT_EQ(vi.fccType, streamtypeVIDEO);
        EXPECT_EQ(vi.dwScale, strhSize >= 24 ? 1001u : 0u);
        EXPECT_EQ(vi.dwRate, strhSize >= 28 ? 30000u : 0u);
        AVIFILEINFOA fi;
        AVIFileInfoA(o.file, &fi, sizeof fi);
        EXPECT_EQ(fi.dwWidth, uint32_t{kW}) << "from the format when the rectangle is empty";
        EXPECT_EQ(fi.dwHeight, uint32_t{kH});
    }
}

TEST(Reader, TopDownSourcesAndTopDownRequests) {
    FixtureFile f = RgbAndPcm(FixtureIndex::Relative);
    f.streams[0].format = BitmapFormat(kW, -kH, 24, BI_RGB);
    Opened o;
    OpenAll(WriteFile("topdown.avi", BuildAvi(f)), o);
    AVIFILEINFOA fi;
    AVIFileInfoA(o.file, &fi, sizeof fi);
    EXPECT_EQ(fi.dwHeight, uint32_t{kH}) << "the absolute height";

    auto flipped = [](const Bytes& rows) {
        Bytes out(rows.size());
        for (int32_t r = 0; r < kH; ++r) std::memcpy(&out[r * 68], &rows[(kH - 1 - r) * 68], 68);
        return out;
    };
    PGETFRAME g = AVIStreamGetFrameOpen(o.video, nullptr);
    ASSERT_NE(g, nullptr);
    void* dib = AVIStreamGetFrame(g, 4);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(Bytes(Pixels(dib), Pixels(dib) + 68 * kH), flipped(RgbPicture(kW, kH, 4)));
    AVIStreamGetFrameClose(g);

    BITMAPINFOHEADER want = {40, kW, -kH, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    g = AVIStreamGetFrameOpen(o.video, &want);
    ASSERT_NE(g, nullptr);
    dib = AVIStreamGetFrame(g, 4);
    ASSERT_NE(dib, nullptr);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, dib, sizeof bi);
    EXPECT_EQ(bi.biHeight, -kH);
    EXPECT_EQ(Bytes(Pixels(dib), Pixels(dib) + 68 * kH), RgbPicture(kW, kH, 4)) << "stored order, no flip";
    AVIStreamGetFrameClose(g);

    want.biBitCount = 32;
    EXPECT_EQ(AVIStreamGetFrameOpen(o.video, &want), nullptr) << "only 24-bit pictures are delivered";
}

TEST(Reader, PalettedFramesGoThroughTheDecoder) {
    // Four colours, 8 bits per pixel, bottom-up rows of 24 bytes.
    const Bytes palette = {10, 20, 30, 0, 200, 100, 50, 0, 0, 0, 255, 0, 255, 255, 255, 0};
    FixtureFile f;
    f.width = kW;
    f.height = kH;
    FixtureStream v;
    v.format = BitmapFormat(kW, kH, 8, BI_RGB, palette);
    for (int n = 0; n < 3; ++n) {
        Bytes c(24 * kH, 0);
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) c[y * 24 + x] = static_cast<uint8_t>((x + y + n) % 4);
        v.chunks.push_back(c);
    }
    f.streams = {v};
    Opened o;
    OpenAll(WriteFile("pal8.avi", BuildAvi(f)), o);
    PGETFRAME g = AVIStreamGetFrameOpen(o.video, nullptr);
    ASSERT_NE(g, nullptr);
    for (int n : {2, 0, 1}) {
        void* dib = AVIStreamGetFrame(g, n);
        ASSERT_NE(dib, nullptr) << n;
        const uint8_t* px = Pixels(dib);
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                const uint8_t* colour = &palette[4 * ((x + y + n) % 4)];
                ASSERT_EQ(0, std::memcmp(px + y * 68 + x * 3, colour, 3)) << n << " at " << x << "," << y;
            }
    }
    AVIStreamGetFrameClose(g);
}

TEST(Reader, StreamsThatCantBeUsed) {
    FixtureFile f = RgbAndPcm(FixtureIndex::Relative);
    f.streams.erase(f.streams.begin());  // audio only
    {
        Opened o;
        OpenAll(WriteFile("novideo.avi", BuildAvi(f)), o);
        EXPECT_EQ(o.video, nullptr);
        PAVISTREAM s = reinterpret_cast<PAVISTREAM>(1);
        EXPECT_NE(AVIFileGetStream(o.file, &s, streamtypeAUDIO, 1), AVIERR_OK);
        EXPECT_EQ(s, nullptr);
    }
    f = RgbAndPcm(FixtureIndex::Relative);
    f.streams[0].format = BitmapFormat(kW, 0, 24, BI_RGB);
    {
        Opened o;
        OpenAll(WriteFile("height0.avi", BuildAvi(f)), o);
        AVIFILEINFOA fi;
        AVIFileInfoA(o.file, &fi, sizeof fi);
        EXPECT_EQ(fi.dwHeight, 0u);
        EXPECT_EQ(AVIStreamGetFrameOpen(o.video, nullptr), nullptr);
    }
    f = RgbAndPcm(FixtureIndex::Relative);
    f.streams[0].format = BitmapFormat(kW, kH, 24, mmioFOURCC('Z', 'Q', '9', 'X'));
    f.streams[0].handler = mmioFOURCC('Z', 'Q', '9', 'X');
    {
        Opened o;
        OpenAll(WriteFile("unknown.avi", BuildAvi(f)), o);
        ASSERT_NE(o.video, nullptr);
        EXPECT_EQ(AVIStreamGetFrameOpen(o.video, nullptr), nullptr) << "no decoder, no frame getter";
    }
}

TEST(Reader, FilesThatCantBeOpened) {
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
    EXPECT_EQ(AVIFileOpenA(&file, (TempDir() + "/missing.avi").c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_FILEOPEN);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(AVIFileOpenA(&file, TempDir().c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_FILEOPEN);
    const std::string fifo = TempDir() + "/fifo.avi";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(AVIFileOpenA(&file, fifo.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_FILEOPEN) << "and no hang";
    const std::string text = WriteFile("notes.avi", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'});
    EXPECT_EQ(AVIFileOpenA(&file, text.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_BADFORMAT);
}

TEST(Reader, VdrFilesOpenByContent) {
    const Bytes avi = BuildAvi(RgbAndPcm(FixtureIndex::Relative));
    {
        Opened o;
        OpenAll(WriteFile("clip.vdr", avi), o);
        PGETFRAME g = AVIStreamGetFrameOpen(o.video, nullptr);
        ASSERT_NE(g, nullptr);
        EXPECT_NE(AVIStreamGetFrame(g, 0), nullptr);
        AVIStreamGetFrameClose(g);
    }
    // A stub that only describes a stream served from elsewhere has no frames
    // of its own: the file opens, the frame getter doesn't.
    FixtureFile stub = RgbAndPcm(FixtureIndex::Relative);
    stub.streams.resize(1);
    stub.streams[0].length = 500;
    stub.streams[0].chunks.clear();
    Opened o;
    OpenAll(WriteFile("served.vdr", BuildAvi(stub)), o);
    ASSERT_NE(o.video, nullptr);
    EXPECT_EQ(AVIStreamGetFrameOpen(o.video, nullptr), nullptr);
}

TEST(Reader, ReferencesAndInitCount) {
    const int32_t before = AVIFileInitCount();
    AVIFileInit();
    AVIFileInit();
    EXPECT_EQ(AVIFileInitCount(), before + 2);
    AVIFileExit();
    AVIFileExit();
    EXPECT_EQ(AVIFileInitCount(), before);
    for (int32_t i = 0; i < before + 1; ++i) AVIFileExit();
    EXPECT_EQ(AVIFileInitCount(), 0) << "never below zero";

    // A stream keeps its file alive after the caller released the file.
    const std::string path = WriteFile("refs.avi", BuildAvi(RgbAndPcm(FixtureIndex::Relative)));
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM video = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0), AVIERR_OK);
    PGETFRAME g = AVIStreamGetFrameOpen(video, nullptr);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(AVIFileRelease(file), 2u);
    EXPECT_EQ(AVIStreamRelease(video), 1u);
    EXPECT_NE(AVIStreamGetFrame(g, 1), nullptr);
    AVIStreamGetFrameClose(g);
    EXPECT_EQ(AVIStreamRelease(nullptr), 0u);
    EXPECT_EQ(AVIFileRelease(nullptr), 0u);
}

}  // namespace
