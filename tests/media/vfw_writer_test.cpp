// The writer, checked on its bytes and through independent readers (ffprobe,
// ffmpeg) and our own reader.
#include "media/vfw/compressor.h"
#include "media/vfw/vfw.h"
#include "tests/media/writer_fixtures.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

namespace {

constexpr uint32_t kRiff = mmioFOURCC('R', 'I', 'F', 'F');
constexpr uint32_t kList = mmioFOURCC('L', 'I', 'S', 'T');
constexpr uint32_t kIdx1 = mmioFOURCC('i', 'd', 'x', '1');
constexpr uint32_t kJunk = mmioFOURCC('J', 'U', 'N', 'K');
constexpr uint32_t kMovi = mmioFOURCC('m', 'o', 'v', 'i');
constexpr uint32_t kHdrl = mmioFOURCC('h', 'd', 'r', 'l');

std::string PathFor(const std::string& name) { return TempDir() + "/" + name; }

uint64_t FileSize(const std::string& path) { return std::filesystem::file_size(path); }

// What the writer put in idx1 for one stream: chunk sizes and key flags.
struct IndexedStream {
    std::vector<uint32_t> sizes;
    std::string keys;  // 'K' or '_' per chunk
};

IndexedStream IndexOf(const Bytes& file, int stream) {
    IndexedStream out;
    for (const RiffChunk& c : RiffChildren(file, 12, file.size())) {
        if (c.id != kIdx1) continue;
        for (uint64_t e = c.at + 8; e + 16 <= c.at + 8 + c.size; e += 16) {
            const uint32_t id = Get32(file, e);
            if (((id & 0xff) - '0') * 10 + (((id >> 8) & 0xff) - '0') != static_cast<uint32_t>(stream)) continue;
            out.sizes.push_back(Get32(file, e + 12));
            out.keys += (Get32(file, e + 4) & AVIIF_KEYFRAME) ? 'K' : '_';
        }
    }
    return out;
}

double MeanAbsDiff(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += static_cast<uint64_t>(std::abs(int{a[i]} - int{b[i]}));
    return static_cast<double>(sum) / static_cast<double>(a.size());
}

Bytes TopDown(const std::vector<Bytes>& pictures, int32_t width, int32_t height) {
    Bytes out;
    for (const Bytes& p : pictures) {
        const Bytes t = ToTopDownPacked(p.data(), width, height);
        out.insert(out.end(), t.begin(), t.end());
    }
    return out;
}

// ---- Container layout --------------------------------------------------------

TEST(Writer, LayoutOnTheBytes) {
    ClipSpec spec;
    spec.frames = 7;
    spec.audio = true;  // 441 one-byte samples: odd chunks that need padding
    const std::string path = PathFor("layout.avi");
    const ClipResult clip = WriteClip(path, spec);
    ASSERT_EQ(clip.status, AVIERR_OK);
    const Bytes file = ReadWholeFile(path);
    ASSERT_GT(file.size(), 2048u);

    EXPECT_EQ(clip.reported, file.size()) << "the reported bytes are the file's growth";
    EXPECT_EQ(Get32(file, 0), kRiff);
    EXPECT_EQ(Get32(file, 4), file.size() - 8);
    EXPECT_EQ(Get32(file, 8), mmioFOURCC('A', 'V', 'I', ' '));

    const auto top = RiffChildren(file, 12, file.size());
    ASSERT_EQ(top.size(), 4u);
    EXPECT_EQ(top[0].id, kList);
    EXPECT_EQ(top[0].type, kHdrl);
    EXPECT_EQ(top[1].id, kJunk);
    EXPECT_EQ(top[2].type, kMovi);
    EXPECT_EQ(top[3].id, kIdx1);
    EXPECT_EQ(top[3].at + 8 + top[3].size, file.size());

    // avih and the two stream headers.
    const uint64_t avih = top[0].at + 12;
    EXPECT_EQ(Get32(file, avih), mmioFOURCC('a', 'v', 'i', 'h'));
    EXPECT_EQ(Get32(file, avih + 8), 40000u);                // microseconds per frame at 25/s
    EXPECT_EQ(Get32(file, avih + 8 + 12) & 0x110u, 0x110u);  // has index, interleaved
    EXPECT_EQ(Get32(file, avih + 8 + 16), 7u);               // total frames
    EXPECT_EQ(Get32(file, avih + 8 + 24), 2u);               // streams
    EXPECT_EQ(Get32(file, avih + 8 + 28), 64u * 48 * 3 + 8);
    EXPECT_EQ(Get32(file, avih + 8 + 32), 64u);
    EXPECT_EQ(Get32(file, avih + 8 + 36), 48u);
    const auto strls = RiffChildren(file, avih + 64, top[0].at + 8 + top[0].size);
    ASSERT_EQ(strls.size(), 2u);
    const uint64_t vstrh = strls[0].at + 12, astrh = strls[1].at + 12;
    EXPECT_EQ(Get32(file, vstrh + 8), streamtypeVIDEO);
    EXPECT_EQ(Get32(file, vstrh + 8 + 32), 7u);        // video length
    EXPECT_EQ(Get32(file, astrh + 8 + 32), 7u * 441);  // audio length in samples
    EXPECT_EQ(Get32(file, astrh + 8 + 36), 441u);      // suggested buffer: largest chunk
    const uint64_t vstrf = vstrh + 8 + 56;
    EXPECT_EQ(Get32(file, vstrf), mmioFOURCC('s', 't', 'r', 'f'));
    EXPECT_EQ(Get32(file, vstrf + 4), 44u) << "strf is the frame format as set";
    EXPECT_EQ(Get32(file, vstrf + 8 + 4), 64u);
    EXPECT_EQ(Get32(file, vstrf + 8 + 8), 48u);

    // Data: the first chunk on a 2048-byte boundary, chunks padded to even sizes.
    const uint64_t moviFourcc = top[2].at + 8;
    const auto chunks = RiffChildren(file, moviFourcc + 4, top[2].at + 8 + top[2].size);
    ASSERT_EQ(chunks.size(), 14u);
    EXPECT_EQ(chunks[0].at % 2048, 0u);
    for (const RiffChunk& c : chunks) {
        EXPECT_EQ(c.at % 2, 0u);
        if (c.size & 1) {
            EXPECT_EQ(file[c.at + 8 + c.size], 0) << "padding byte";
        }
    }
    EXPECT_EQ(FccText(chunks[0].id), "00db");
    EXPECT_EQ(FccText(chunks[1].id), "01wb");
    EXPECT_EQ(chunks[1].size, 441u);

    // idx1: one entry per chunk, in file order, offsets from the 'movi' code.
    ASSERT_EQ(top[3].size, chunks.size() * 16);
    for (size_t i = 0; i < chunks.size(); ++i) {
        const uint64_t e = top[3].at + 8 + i * 16;
        EXPECT_EQ(Get32(file, e), chunks[i].id);
        EXPECT_EQ(Get32(file, e + 4), AVIIF_KEYFRAME) << "uncompressed frames and audio are all key frames";
        EXPECT_EQ(moviFourcc + Get32(file, e + 8), chunks[i].at);
        EXPECT_EQ(Get32(file, e + 12), chunks[i].size);
    }
}

TEST(Writer, IndependentReadersAgree) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg tools not installed";
    ClipSpec spec;
    spec.frames = 9;
    spec.audio = true;
    spec.channels = 2;
    spec.bits = 16;
    spec.sampleRate = 44100;
    spec.samplesPerChunk = 1764;
    const std::string path = PathFor("probe.avi");
    const ClipResult clip = WriteClip(path, spec);
    ASSERT_EQ(clip.status, AVIERR_OK);

    EXPECT_EQ(Probe(path, "format", "nb_streams", ""), "2");
    EXPECT_EQ(Probe(path, "stream", "codec_name"), "rawvideo");
    EXPECT_EQ(Probe(path, "stream", "width"), "64");
    EXPECT_EQ(Probe(path, "stream", "height"), "48");
    EXPECT_EQ(Probe(path, "stream", "r_frame_rate"), "25/1");
    EXPECT_EQ(Probe(path, "stream", "nb_read_frames", "v:0", true), "9");
    EXPECT_EQ(Probe(path, "stream", "codec_name", "a:0"), "pcm_s16le");
    EXPECT_EQ(Probe(path, "stream", "sample_rate", "a:0"), "44100");
    EXPECT_EQ(Probe(path, "stream", "channels", "a:0"), "2");
    EXPECT_EQ(DecodeErrors(path), "");

    // Pixels and samples come back exactly.
    EXPECT_EQ(FfmpegBgr(path), TopDown(clip.pictures, 64, 48));
    ASSERT_TRUE(RunFfmpeg("-i '" + path + "' -map 0:a:0 -f s16le '" + path + ".pcm'"));
    EXPECT_EQ(ReadWholeFile(path + ".pcm"), clip.audio);

    // And our own reader sees the stream descriptions and data as written.
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM v = nullptr, a = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &v, streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file, &a, streamtypeAUDIO, 0), AVIERR_OK);
    AVISTREAMINFOA vi{}, ai{};
    AVIStreamInfoA(v, &vi, sizeof vi);
    AVIStreamInfoA(a, &ai, sizeof ai);
    EXPECT_EQ(vi.dwLength, 9u);
    EXPECT_EQ(vi.dwRate, 25u);
    EXPECT_EQ(vi.dwScale, 1u);
    EXPECT_EQ(std::string(vi.szName), "video");
    EXPECT_EQ(ai.dwLength, 9u * 1764);
    Bytes samples(clip.audio.size());
    int32_t bytes = 0, got = 0;
    EXPECT_EQ(AVIStreamRead(a, 0, 9 * 1764, samples.data(), static_cast<int32_t>(samples.size()), &bytes, &got),
              AVIERR_OK);
    EXPECT_EQ(samples, clip.audio);
    PGETFRAME g = AVIStreamGetFrameOpen(v, nullptr);
    ASSERT_NE(g, nullptr);
    const auto* dib = static_cast<const uint8_t*>(AVIStreamGetFrame(g, 4));
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(0, std::memcmp(dib + 40, clip.pictures[4].data(), clip.pictures[4].size()));
    AVIStreamGetFrameClose(g);
    AVIStreamRelease(a);
    AVIStreamRelease(v);
    AVIFileRelease(file);
}

TEST(Writer, FractionalRatesAndManySmallChunks) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg tools not installed";
    ClipSpec spec;
    spec.rate = 29970;
    spec.scale = 1000;
    spec.frames = 5;
    const std::string path = PathFor("ntsc.avi");
    ASSERT_EQ(WriteClip(path, spec).status, AVIERR_OK);
    EXPECT_EQ(Probe(path, "stream", "r_frame_rate"), "2997/100");
    const Bytes file = ReadWholeFile(path);
    EXPECT_EQ(Get32(file, 32), 33367u) << "avih frame period in microseconds";

    // Tiny chunks: every write still counts its header, padding and index entry,
    // so a count of reported bytes can't fall behind the file.
    PAVIFILE f = nullptr;
    const std::string tiny = PathFor("tiny.avi");
    ASSERT_EQ(AVIFileOpenA(&f, tiny.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOA ai{};
    ai.fccType = streamtypeAUDIO;
    ai.dwScale = 1;
    ai.dwRate = 8000;
    ai.dwSampleSize = 1;
    PAVISTREAM a = nullptr;
    ASSERT_EQ(AVIFileCreateStreamA(f, &a, &ai), AVIERR_OK);
    const Bytes wf = PcmFormat(1, 8000, 8, true);
    ASSERT_EQ(AVIStreamSetFormat(a, 0, wf.data(), static_cast<int32_t>(wf.size())), AVIERR_OK);
    uint64_t reported = 0;
    for (int i = 0; i < 3000; ++i) {
        const uint8_t sample = static_cast<uint8_t>(i);
        int32_t bytes = 0;
        ASSERT_EQ(AVIStreamWrite(a, i, 1, &sample, 1, 0, nullptr, &bytes), AVIERR_OK);
        if (i > 0) {
            ASSERT_EQ(bytes, 8 + 2 + 16) << "chunk header, data and padding, index entry";
        }
        reported += static_cast<uint32_t>(bytes);
    }
    AVIStreamRelease(a);
    AVIFileRelease(f);
    EXPECT_EQ(reported, FileSize(tiny));
    EXPECT_GT(reported, 3000u * 26);
}

// A writer that never reached its last release leaves a file that plays up to
// its last complete chunk.
TEST(Writer, UnfinishedFileStillReads) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg tools not installed";
    const std::string path = PathFor("unfinished.avi");
    Destination d;
    ASSERT_EQ(d.Open(path, mmioFOURCC('D', 'I', 'B', ' '), 32, 16), AVIERR_OK);
    ASSERT_EQ(SetFrameFormat(d.compressed, 32, 16), AVIERR_OK);
    PAVISTREAM c = d.compressed;
    std::vector<Bytes> pictures;
    for (int n = 0; n < 6; ++n) {
        pictures.push_back(SmoothPicture(32, 16, n));
        ASSERT_EQ(AVIStreamWrite(c, n, 1, pictures.back().data(), static_cast<int32_t>(pictures.back().size()),
                                 AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
    }
    // Still open: no index, no final sizes. Copy it as a crash would leave it.
    const std::string copy = PathFor("unfinished-copy.avi");
    std::filesystem::copy_file(path, copy);
    d.Close();

    EXPECT_EQ(Probe(copy, "stream", "width"), "32");
    EXPECT_EQ(Probe(copy, "stream", "nb_read_frames", "v:0", true), "6");
    EXPECT_EQ(FfmpegBgr(copy), TopDown(pictures, 32, 16));
    EXPECT_EQ(StoredStreamInfo(copy, streamtypeVIDEO).dwLength, 6u) << "our reader scans the chunks";
}

TEST(Writer, EmptyFileIsComplete) {
    const std::string path = PathFor("empty.avi");
    ClipSpec spec;
    spec.frames = 0;
    ASSERT_EQ(WriteClip(path, spec).status, AVIERR_OK);
    const Bytes file = ReadWholeFile(path);
    const auto top = RiffChildren(file, 12, file.size());
    ASSERT_EQ(top.size(), 4u);
    EXPECT_EQ(top[3].id, kIdx1);
    EXPECT_EQ(top[3].size, 0u);
    EXPECT_EQ(Get32(file, 4), file.size() - 8);
    PAVIFILE r = nullptr;
    ASSERT_EQ(AVIFileOpenA(&r, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    AVIFILEINFOA info{};
    AVIFileInfoA(r, &info, sizeof info);
    EXPECT_EQ(info.dwStreams, 1u);
    EXPECT_EQ(info.dwWidth, 64u);
    AVIFileRelease(r);
}

// The destination's description is a copy of the source's, whose video sample
// size may be its own frame size.
TEST(Writer, VideoSampleSizeOfTheSourceIsNotKept) {
    const std::string path = PathFor("sample-size.avi");
    Destination d;
    // The source's 32x24 frames as sample size, written at a smaller height.
    ASSERT_EQ(d.Open(path, mmioFOURCC('D', 'I', 'B', ' '), 32, 24, 32 * 3 * 24), AVIERR_OK);
    ASSERT_EQ(SetFrameFormat(d.compressed, 32, 18), AVIERR_OK);
    PAVISTREAM c = d.compressed;
    const Bytes picture = SmoothPicture(32, 18, 0);
    for (int n = 0; n < 3; ++n) {
        int32_t samples = 0;
        ASSERT_EQ(AVIStreamWrite(c, n, 1, picture.data(), static_cast<int32_t>(picture.size()), AVIIF_KEYFRAME,
                                 &samples, nullptr),
                  AVIERR_OK);
        EXPECT_EQ(samples, 1);
    }
    d.Close();
    const AVISTREAMINFOA info = StoredStreamInfo(path, streamtypeVIDEO);
    EXPECT_EQ(info.dwSampleSize, 0u);
    EXPECT_EQ(info.dwLength, 3u);
}

// Compressed sound has no fixed sample size: each chunk is one sample of the
// file, however many sound samples the carry-over counts in it.
TEST(Writer, CompressedSoundTakesWholeChunks) {
    const std::string path = PathFor("mp3.avi");
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpenA(&f, path.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOA ai{};
    ai.fccType = streamtypeAUDIO;
    ai.dwScale = 1152;
    ai.dwRate = 44100;
    PAVISTREAM a = nullptr;
    ASSERT_EQ(AVIFileCreateStreamA(f, &a, &ai), AVIERR_OK);
    Bytes wf = PcmFormat(2, 44100, 0, true);
    wf[0] = 0x55;  // MPEG layer 3
    wf[12] = 1;    // block align 1
    ASSERT_EQ(AVIStreamSetFormat(a, 0, wf.data(), static_cast<int32_t>(wf.size())), AVIERR_OK);
    const Bytes frame(417, 0xAB);
    for (int i = 0; i < 3; ++i) {
        int32_t samples = 0;
        ASSERT_EQ(AVIStreamWrite(a, i, 1764, frame.data(), static_cast<int32_t>(frame.size()), 0, &samples, nullptr),
                  AVIERR_OK);
        EXPECT_EQ(samples, 1);
    }
    AVIStreamRelease(a);
    AVIFileRelease(f);
    EXPECT_EQ(StoredStreamInfo(path, streamtypeAUDIO).dwLength, 3u);
}

// A real segment's worth of 1920x1080 frames, past the point where the
// pipeline splits. Slow and 2 GB of disk: only with TAVRICK_SLOW_TESTS=1.
TEST(Writer, TwoGigabytesOfFrames) {
    const char* slow = std::getenv("TAVRICK_SLOW_TESTS");
    if (!slow || std::string(slow) != "1") GTEST_SKIP() << "set TAVRICK_SLOW_TESTS=1 to write 2 GB";
    const std::string path = PathFor("two-gigabytes.avi");
    Destination d;
    ASSERT_EQ(d.Open(path, mmioFOURCC('D', 'I', 'B', ' '), 1920, 1080), AVIERR_OK);
    ASSERT_EQ(SetFrameFormat(d.compressed, 1920, 1080), AVIERR_OK);
    PAVISTREAM c = d.compressed;
    const Bytes picture = SmoothPicture(1920, 1080, 0);
    constexpr uint64_t kSegmentLimit = 0x7FF00000;
    uint64_t reported = 0;
    int frames = 0;
    while (reported <= kSegmentLimit) {
        int32_t bytes = 0;
        ASSERT_EQ(AVIStreamWrite(c, frames, 1, picture.data(), static_cast<int32_t>(picture.size()), AVIIF_KEYFRAME,
                                 nullptr, &bytes),
                  AVIERR_OK);
        reported += static_cast<uint32_t>(bytes);
        ++frames;
    }
    d.Close();
    EXPECT_EQ(FileSize(path), reported);
    EXPECT_LT(reported, kSegmentLimit + picture.size() + 64) << "the split comes within one frame of the limit";
    if (HaveFfmpeg()) {
        EXPECT_EQ(Probe(path, "stream", "nb_frames"), std::to_string(frames));
        EXPECT_EQ(Capture("ffprobe -v error -select_streams v:0 -show_entries packet=pos -of csv=p=0 '" + path +
                          "' 2>/dev/null | tail -1"),
                  std::to_string(FileSize(path) - 8 - 16ull * frames - picture.size()))
            << "the last frame's data is found where the index says";
    }
    PAVIFILE r = nullptr;
    ASSERT_EQ(AVIFileOpenA(&r, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM rv = nullptr;
    ASSERT_EQ(AVIFileGetStream(r, &rv, streamtypeVIDEO, 0), AVIERR_OK);
    PGETFRAME g = AVIStreamGetFrameOpen(rv, nullptr);
    ASSERT_NE(g, nullptr);
    const auto* last = static_cast<const uint8_t*>(AVIStreamGetFrame(g, frames - 1));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(0, std::memcmp(last + 40, picture.data(), picture.size()));
    AVIStreamGetFrameClose(g);
    AVIStreamRelease(rv);
    AVIFileRelease(r);
    std::filesystem::remove(path);
}

// ---- Compressors -----------------------------------------------------------------

std::string ParamName(const testing::TestParamInfo<AviCompressorInfo>& info) {
    std::string s = FccText(info.param.fccHandler);
    for (char& ch : s)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return s;
}

// The code each compressor's frames carry in the file.
std::string StoredCode(uint32_t fcc) {
    const std::string s = FccText(fcc);
    if (s == "UTVD") return "ULRG";  // Ut Video names its pixel layout
    if (s == "CVID") return "cvid";
    return s;
}

// Mean difference per sample that a lossy compressor may leave on the smooth
// test picture at quality 10000 (the codecs without a quality scale at their
// fixed quality).
double Tolerance(uint32_t fcc) {
    const std::string s = FccText(fcc);
    if (s == "MSVC" || s == "CVID") return 10.0;
    if (s == "dvsd") return 4.0;
    return 5.0;  // mostly the halved colour resolution of 4:2:0
}

ClipSpec SpecFor(const AviCompressorInfo& c) {
    ClipSpec spec;
    spec.fcc = c.fccHandler;
    spec.frames = 12;
    if (FccText(c.fccHandler) == "dvsd") {  // DV has frame sizes of its own
        spec.width = 720;
        spec.height = 576;
        spec.frames = 6;
    }
    return spec;
}

std::vector<AviCompressorInfo> Compressors(bool (*keep)(const AviCompressorInfo&)) {
    std::vector<AviCompressorInfo> out;
    for (const AviCompressorInfo& c : AviListCompressors())
        if (keep(c)) out.push_back(c);
    return out;
}

// Key frames exactly at the given frames (every frame for intra-only
// compressors). Cinepak adds key frames of its own where the picture changes
// much; for it only the given ones are checked.
void ExpectKeys(const AviCompressorInfo& c, const std::string& keys, int frames, std::vector<int> at) {
    std::string expected(frames, c.keyFrames ? '_' : 'K');
    for (int n : at)
        if (n < frames) expected[n] = 'K';
    if (FccText(c.fccHandler) == "CVID") {
        ASSERT_EQ(keys.size(), expected.size());
        for (int n : at) {
            if (n < frames) {
                EXPECT_EQ(keys[n], 'K') << "frame " << n << " of " << keys;
            }
        }
        return;
    }
    EXPECT_EQ(keys, expected);
}

class EveryCompressor : public testing::TestWithParam<AviCompressorInfo> {};

TEST_P(EveryCompressor, OneChunkPerFrameAndTheFramesComeBack) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg tools not installed";
    const AviCompressorInfo& c = GetParam();
    ClipSpec spec = SpecFor(c);
    spec.keyFrameEvery = 5;
    spec.forceEvery = 5;  // as the pipeline flags them
    const std::string path = PathFor("every-" + ParamName({c, 0}) + ".avi");
    const ClipResult clip = WriteClip(path, spec);
    ASSERT_EQ(clip.status, AVIERR_OK);
    ASSERT_EQ(clip.framesWritten, spec.frames);
    EXPECT_EQ(clip.reported, FileSize(path));

    const Bytes file = ReadWholeFile(path);
    const IndexedStream index = IndexOf(file, 0);
    ASSERT_EQ(index.sizes.size(), static_cast<size_t>(spec.frames)) << "one chunk per frame";
    for (uint32_t size : index.sizes) EXPECT_GT(size, 0u);

    const bool dib = c.fccHandler == mmioFOURCC('D', 'I', 'B', ' ');
    if (!dib) {
        EXPECT_EQ(Probe(path, "stream", "codec_tag_string"), StoredCode(c.fccHandler));
        PAVIFILE f = nullptr;
        ASSERT_EQ(AVIFileOpenA(&f, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
        PAVISTREAM v = nullptr;
        ASSERT_EQ(AVIFileGetStream(f, &v, streamtypeVIDEO, 0), AVIERR_OK);
        AVISTREAMINFOA info{};
        AVIStreamInfoA(v, &info, sizeof info);
        BITMAPINFOHEADER bi{};
        int32_t size = sizeof bi;
        AVIStreamReadFormat(v, 0, &bi, &size);
        EXPECT_EQ(FccText(info.fccHandler), StoredCode(c.fccHandler)) << "strh carries the code";
        EXPECT_EQ(FccText(bi.biCompression), StoredCode(c.fccHandler)) << "strf is the encoder's format";
        AVIStreamRelease(v);
        AVIFileRelease(f);
    }
    EXPECT_EQ(Probe(path, "stream", "nb_read_frames", "v:0", true), std::to_string(spec.frames));
    EXPECT_EQ(DecodeErrors(path), "");

    // Key frames: what the index says is what the encoder made, forced ones included.
    const std::string keys = ProbeKeyFlags(path);
    EXPECT_EQ(keys, index.keys);
    ExpectKeys(c, index.keys, spec.frames, {0, 5, 10});

    const Bytes decoded = FfmpegBgr(path);
    const Bytes original = TopDown(clip.pictures, spec.width, spec.height);
    if (c.lossless) {
        EXPECT_TRUE(decoded == original) << "lossless frames come back unchanged";
    } else {
        EXPECT_LE(MeanAbsDiff(decoded, original), Tolerance(c.fccHandler));
    }
    // Our own frame getter decodes them as well.
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpenA(&f, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM v = nullptr;
    ASSERT_EQ(AVIFileGetStream(f, &v, streamtypeVIDEO, 0), AVIERR_OK);
    PGETFRAME g = AVIStreamGetFrameOpen(v, nullptr);
    ASSERT_NE(g, nullptr);
    const int n = spec.frames - 2;
    const auto* dib24 = static_cast<const uint8_t*>(AVIStreamGetFrame(g, n));
    ASSERT_NE(dib24, nullptr);
    const Bytes mine(dib24 + 40, dib24 + 40 + clip.pictures[n].size());
    if (c.lossless) {
        EXPECT_TRUE(mine == clip.pictures[n]);
    } else {
        EXPECT_LE(MeanAbsDiff(mine, clip.pictures[n]), Tolerance(c.fccHandler));
    }
    AVIStreamGetFrameClose(g);
    AVIStreamRelease(v);
    AVIFileRelease(f);
}

INSTANTIATE_TEST_SUITE_P(Writer, EveryCompressor, testing::ValuesIn(AviListCompressors()), ParamName);

class KeyFrameCompressor : public testing::TestWithParam<AviCompressorInfo> {};

TEST_P(KeyFrameCompressor, GroupSizeAndForcedKeyFrames) {
    const AviCompressorInfo& c = GetParam();
    ClipSpec spec = SpecFor(c);
    spec.frames = 10;
    const std::string path = PathFor("keys-" + ParamName({c, 0}) + ".avi");

    // The group size alone: nothing is forced after the first frame.
    spec.keyFrameEvery = 4;
    ASSERT_EQ(WriteClip(path, spec).status, AVIERR_OK);
    ExpectKeys(c, IndexOf(ReadWholeFile(path), 0).keys, spec.frames, {0, 4, 8});

    // No group size: only the frames flagged on the write.
    spec.keyFrameEvery = 0;
    spec.forceAt = {3, 7};
    ASSERT_EQ(WriteClip(path, spec).status, AVIERR_OK);
    ExpectKeys(c, IndexOf(ReadWholeFile(path), 0).keys, spec.frames, {0, 3, 7});
    if (HaveFfmpeg()) {
        EXPECT_EQ(DecodeErrors(path), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Writer, KeyFrameCompressor,
                         testing::ValuesIn(Compressors([](const AviCompressorInfo& c) { return c.keyFrames; })),
                         ParamName);

class QualityCompressor : public testing::TestWithParam<AviCompressorInfo> {};

uint64_t VideoBytes(const std::string& path) {
    uint64_t total = 0;
    for (uint32_t size : IndexOf(ReadWholeFile(path), 0).sizes) total += size;
    return total;
}

TEST_P(QualityCompressor, QualityAndDataRateSteerTheSize) {
    const AviCompressorInfo& c = GetParam();
    ClipSpec spec = SpecFor(c);
    spec.width = 160;
    spec.height = 120;
    spec.frames = 50;
    spec.keyFrameEvery = 25;
    spec.forceEvery = 25;
    const std::string path = PathFor("quality-" + ParamName({c, 0}) + ".avi");
    std::vector<uint64_t> sizes;
    for (uint32_t q : {0u, 3000u, 7000u, 10000u}) {
        spec.quality = q;
        ASSERT_EQ(WriteClip(path, spec).status, AVIERR_OK);
        sizes.push_back(VideoBytes(path));
    }
    for (size_t i = 1; i < sizes.size(); ++i) EXPECT_LT(sizes[i - 1], sizes[i]) << "quality steps up the size";

    if (!c.dataRate) return;
    // Two seconds of frames, aimed at a quarter and at three quarters of the way
    // between the coarsest and the finest quality's sizes.
    // Rate control over so few frames is rough: within a factor of two.
    spec.quality = 10000;
    std::vector<uint64_t> got;
    for (double at : {0.25, 0.75}) {
        const uint64_t target = sizes.front() + static_cast<uint64_t>((sizes.back() - sizes.front()) * at);
        spec.bytesPerSecond = static_cast<uint32_t>(target / 2);
        ASSERT_EQ(WriteClip(path, spec).status, AVIERR_OK);
        got.push_back(VideoBytes(path));
        EXPECT_GT(got.back(), target / 2) << "aimed at " << target << " bytes";
        EXPECT_LT(got.back(), target * 2) << "aimed at " << target << " bytes";
    }
    EXPECT_LT(got[0], got[1]);
    EXPECT_LT(got[0], sizes.back()) << "the data rate governs, not the quality";
}

INSTANTIATE_TEST_SUITE_P(Writer, QualityCompressor,
                         testing::ValuesIn(Compressors([](const AviCompressorInfo& c) { return c.quality; })),
                         ParamName);

}  // namespace
