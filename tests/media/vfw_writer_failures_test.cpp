// What the writer refuses, the locks between runs, and full disks.
#include "media/vfw/compressor.h"
#include "media/vfw/vfw.h"
#include "tests/media/writer_fixtures.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uint32_t kDib = mmioFOURCC('D', 'I', 'B', ' ');

std::string PathFor(const std::string& name) { return TempDir() + "/" + name; }

// ---- Refusals ---------------------------------------------------------------------

TEST(WriterRefuses, FormatsTheCompressorCantTake) {
    const std::string path = PathFor("refused.avi");
    {
        Destination d;
        ASSERT_EQ(d.Open(path, mmioFOURCC('M', 'J', 'P', 'G')), AVIERR_OK);
        EXPECT_EQ(SetFrameFormat(d.compressed, 64, 48, 16), AVIERR_BADFORMAT);
        EXPECT_EQ(SetFrameFormat(d.compressed, 64, 48, 24, mmioFOURCC('M', 'J', 'P', 'G')), AVIERR_BADFORMAT);
        EXPECT_EQ(SetFrameFormat(d.compressed, 0, 48), AVIERR_BADFORMAT);
        EXPECT_EQ(SetFrameFormat(d.compressed, 100000, 100000), AVIERR_BADFORMAT) << "no huge allocation";
        const uint8_t shortFormat[20] = {};
        EXPECT_EQ(AVIStreamSetFormat(d.compressed, 0, shortFormat, sizeof shortFormat), AVIERR_BADFORMAT);
        // Nothing accepted, so nothing can be written.
        const Bytes picture = SmoothPicture(64, 48, 0);
        EXPECT_EQ(WriteFrame(d.compressed, 0, picture), AVIERR_BADFORMAT);
        // The format that fits still does after all that.
        EXPECT_EQ(SetFrameFormat(d.compressed, 64, 48), AVIERR_OK);
        EXPECT_EQ(WriteFrame(d.compressed, 0, picture), AVIERR_OK);
    }
}

// DV has two systems: PAL, 720x576 at 25 fps in 4:2:0, and NTSC, 720x480 at
// 29.97 in 4:1:1. Any other size or rate is refused at the format, with a
// reason, before anything is written.
TEST(WriterRefuses, DvOutsideItsTwoSystems) {
    AviCompressorInfo dv;
    if (!AviFindCompressor(mmioFOURCC('d', 'v', 's', 'd'), &dv)) GTEST_SKIP() << "no DV encoder here";
    struct Case {
        int32_t width, height;
        uint32_t rate, scale;
        const char* pixels;  // what ffprobe finds; null: refused
    };
    const Case cases[] = {{720, 576, 25, 1, "yuv420p"},       {720, 480, 29970, 1000, "yuv411p"},
                          {720, 480, 30000, 1001, "yuv411p"}, {720, 576, 29970, 1000, nullptr},
                          {720, 480, 25, 1, nullptr},         {64, 48, 25, 1, nullptr}};
    for (const Case& c : cases) {
        const std::string path = PathFor("dv-systems.avi");
        std::remove(path.c_str());
        Destination d;
        ASSERT_EQ(d.Open(path, dv.fccHandler, c.width, c.height, 0, c.rate, c.scale), AVIERR_OK);
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + " at " +
                                 std::to_string(c.rate) + "/" + std::to_string(c.scale);
        if (!c.pixels) {
            EXPECT_EQ(SetFrameFormat(d.compressed, c.width, c.height), AVIERR_BADFORMAT) << what;
            EXPECT_NE(std::string(AviFileFailure(d.file)).find("720x576 at 25 fps"), std::string::npos) << what;
            EXPECT_FALSE(AviCompressorRefusal(dv.fccHandler, c.width, c.height, c.rate, c.scale).empty()) << what;
            continue;
        }
        EXPECT_TRUE(AviCompressorRefusal(dv.fccHandler, c.width, c.height, c.rate, c.scale).empty()) << what;
        ASSERT_EQ(SetFrameFormat(d.compressed, c.width, c.height), AVIERR_OK) << what;
        for (int n = 0; n < 2; ++n)
            ASSERT_EQ(WriteFrame(d.compressed, n, SmoothPicture(c.width, c.height, n)), AVIERR_OK);
        d.Close();
        EXPECT_EQ(Probe(path, "stream", "pix_fmt"), c.pixels) << what;
    }
}

// Before anything is written, the refusal the encoder will give when its
// format is set: the same words, from opening it once.
TEST(WriterRefuses, EncoderRefusalsAreKnownBeforeWriting) {
    struct Case {
        uint32_t fcc;
        int32_t width, height;
        bool refused;
    } cases[] = {{mmioFOURCC('H', '2', '6', '4'), 65, 49, true},
                 {mmioFOURCC('H', '2', '6', '4'), 64, 48, false},
                 {mmioFOURCC('C', 'V', 'I', 'D'), 66, 50, true},
                 {mmioFOURCC('M', 'J', 'P', 'G'), 65, 49, false},
                 {kDib, 65, 49, false}};
    for (const Case& c : cases) {
        AviCompressorInfo info;
        if (!AviFindCompressor(c.fcc, &info)) continue;  // not in this build
        const std::string what =
            std::string(info.name) + " " + std::to_string(c.width) + "x" + std::to_string(c.height);
        const std::string refusal = AviCompressorRefusal(c.fcc, c.width, c.height, 25, 1);
        EXPECT_EQ(!refusal.empty(), c.refused) << what << ": " << refusal;
        if (!c.refused) continue;
        // x264's odd sizes are known by rule, in the encoder's own words.
        if (c.fcc == mmioFOURCC('H', '2', '6', '4')) {
            EXPECT_NE(refusal.find("width not divisible by 2 (65x49)"), std::string::npos) << refusal;
        }
        const std::string path = PathFor("refusal-known.avi");
        std::remove(path.c_str());
        Destination d;
        ASSERT_EQ(d.Open(path, c.fcc, c.width, c.height), AVIERR_OK) << what;
        EXPECT_EQ(SetFrameFormat(d.compressed, c.width, c.height), AVIERR_BADFORMAT) << what;
        EXPECT_EQ(AviFileFailure(d.file), refusal) << what;
    }
}

TEST(WriterRefuses, CompressorsAndStreamsThatDontFit) {
    const std::string path = PathFor("streams.avi");
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOA vi{};
    vi.fccType = streamtypeVIDEO;
    vi.dwRate = 25;
    vi.dwScale = 1;
    AVISTREAMINFOA ai{};
    ai.fccType = streamtypeAUDIO;
    ai.dwScale = 4;
    ai.dwRate = 4 * 44100;
    ai.dwSampleSize = 4;
    PAVISTREAM video = nullptr, audio = nullptr, c = nullptr;
    ASSERT_EQ(AVIFileCreateStreamA(file, &video, &vi), AVIERR_OK);
    ASSERT_EQ(AVIFileCreateStreamA(file, &audio, &ai), AVIERR_OK);
    EXPECT_EQ(AVIFileCreateStreamA(file, &c, nullptr), AVIERR_BADPARAM);

    AVICOMPRESSOPTIONS o{};
    o.fccHandler = mmioFOURCC('A', 'B', 'C', 'D');
    EXPECT_EQ(AVIMakeCompressedStream(&c, video, &o, nullptr), AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(c, nullptr);
    o.fccHandler = kDib;
    EXPECT_EQ(AVIMakeCompressedStream(&c, audio, &o, nullptr), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIMakeCompressedStream(&c, video, nullptr, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIMakeCompressedStream(&c, nullptr, &o, nullptr), AVIERR_BADHANDLE);

    // Audio formats that would describe samples wrongly.
    Bytes wf = PcmFormat(2, 44100, 16, true);
    Bytes broken = wf;
    broken[12] = broken[13] = 0;  // block align 0
    EXPECT_EQ(AVIStreamSetFormat(audio, 0, broken.data(), static_cast<int32_t>(broken.size())), AVIERR_BADFORMAT);
    broken = wf;
    broken[16] = 22;  // claims extra bytes it doesn't have
    EXPECT_EQ(AVIStreamSetFormat(audio, 0, broken.data(), static_cast<int32_t>(broken.size())), AVIERR_BADFORMAT);
    EXPECT_EQ(AVIStreamSetFormat(audio, 1, wf.data(), static_cast<int32_t>(wf.size())), AVIERR_UNSUPPORTED);
    const uint8_t sample[4] = {};
    EXPECT_EQ(AVIStreamWrite(audio, 0, 1, sample, 4, 0, nullptr, nullptr), AVIERR_BADFORMAT) << "no format yet";
    ASSERT_EQ(AVIStreamSetFormat(audio, 0, wf.data(), static_cast<int32_t>(wf.size())), AVIERR_OK);
    EXPECT_EQ(AVIStreamWrite(audio, 0, 1, sample, 3, 0, nullptr, nullptr), AVIERR_BADSIZE) << "not whole samples";

    ASSERT_EQ(AVIMakeCompressedStream(&c, video, &o, nullptr), AVIERR_OK);
    ASSERT_EQ(SetFrameFormat(c, 8, 8), AVIERR_OK);
    const Bytes picture = SmoothPicture(8, 8, 0);
    int32_t samples = 0, bytes = 0;
    ASSERT_EQ(AVIStreamWrite(audio, 0, 1, sample, 4, 0, &samples, &bytes), AVIERR_OK);
    EXPECT_EQ(samples, 1);
    EXPECT_GT(bytes, 2048) << "the first write brings the headers";

    // Once data is on disk the headers are fixed.
    PAVISTREAM late = nullptr;
    EXPECT_EQ(AVIFileCreateStreamA(file, &late, &vi), AVIERR_UNSUPPORTED);
    EXPECT_EQ(SetFrameFormat(c, 16, 8), AVIERR_UNSUPPORTED);
    EXPECT_EQ(SetFrameFormat(c, 8, 8), AVIERR_OK) << "the same format again is harmless";
    // Positions only move forwards.
    ASSERT_EQ(WriteFrame(c, 0, picture), AVIERR_OK);
    EXPECT_EQ(WriteFrame(c, 0, picture), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIStreamWrite(audio, 5, 1, sample, 4, 0, nullptr, nullptr), AVIERR_UNSUPPORTED);
    // A skipped video position becomes an empty chunk.
    ASSERT_EQ(WriteFrame(c, 3, picture, &bytes), AVIERR_OK);
    EXPECT_EQ(bytes, 2 * (8 + 16) + 8 + 8 * 8 * 3 + 16);
    AVISTREAMINFOA info{};
    AVIStreamInfoA(video, &info, sizeof info);
    EXPECT_EQ(info.dwLength, 4u);
    AVIStreamRelease(c);
    AVIStreamRelease(audio);
    AVIStreamRelease(video);
    AVIFileRelease(file);

    // A file opened for reading takes no streams and no writes.
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIFileCreateStreamA(file, &late, &vi), AVIERR_READONLY);
    ASSERT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0), AVIERR_OK);
    EXPECT_EQ(WriteFrame(video, 4, picture), AVIERR_READONLY);
    EXPECT_EQ(AVIMakeCompressedStream(&c, video, &o, nullptr), AVIERR_READONLY);
    AVIStreamRelease(video);
    AVIFileRelease(file);
}

TEST(WriterRefuses, FramesShorterThanTheFormat) {
    Destination d;
    ASSERT_EQ(d.Open(PathFor("short.avi"), mmioFOURCC('H', 'F', 'Y', 'U')), AVIERR_OK);
    ASSERT_EQ(SetFrameFormat(d.compressed, 64, 48), AVIERR_OK);
    Bytes picture = SmoothPicture(64, 48, 0);
    picture.resize(picture.size() - 1);
    EXPECT_EQ(WriteFrame(d.compressed, 0, picture), AVIERR_BADSIZE) << "the encoder would read past the frame";
    EXPECT_EQ(AVIStreamWrite(d.compressed, 0, 2, picture.data(), 9216, 0, nullptr, nullptr), AVIERR_BADPARAM);
}

// ---- Locks ---------------------------------------------------------------------------

TEST(WriterLocks, ADestinationIsNobodyElses) {
    const std::string path = PathFor("locked.avi");
    Destination first;
    ASSERT_EQ(first.Open(path, kDib), AVIERR_OK);
    ASSERT_EQ(SetFrameFormat(first.compressed, 16, 16), AVIERR_OK);
    ASSERT_EQ(WriteFrame(first.compressed, 0, SmoothPicture(16, 16, 0)), AVIERR_OK);
    const auto size = std::filesystem::file_size(path);

    PAVIFILE other = reinterpret_cast<PAVIFILE>(1);
    EXPECT_EQ(AVIFileOpenA(&other, path.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr), AVIERR_FILEOPEN);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(std::filesystem::file_size(path), size) << "a refused writer doesn't empty the file";
    EXPECT_EQ(AVIFileOpenA(&other, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_FILEOPEN)
        << "nor can it be read while it is written";
}

TEST(WriterLocks, ASourceBeingReadIsNotOverwritten) {
    const std::string path = PathFor("source.avi");
    ClipSpec spec;
    spec.frames = 3;
    ASSERT_EQ(WriteClip(path, spec).status, AVIERR_OK);
    const Bytes before = ReadWholeFile(path);

    PAVIFILE a = nullptr, b = nullptr, w = nullptr;
    ASSERT_EQ(AVIFileOpenA(&a, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIFileOpenA(&b, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK) << "readers share";
    EXPECT_EQ(AVIFileOpenA(&w, path.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr), AVIERR_FILEOPEN);
    EXPECT_EQ(ReadWholeFile(path), before);
    AVIFileRelease(a);
    EXPECT_EQ(AVIFileOpenA(&w, path.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr), AVIERR_FILEOPEN);
    AVIFileRelease(b);
    // Once every reader is gone, the file may be replaced.
    ASSERT_EQ(AVIFileOpenA(&w, path.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    AVIFileRelease(w);
    EXPECT_LT(ReadWholeFile(path).size(), before.size());
}

// ---- Full disks -----------------------------------------------------------------------

// Runs body in a child process, so limits and mounts stay there; returns its
// exit status (-1 when it didn't exit normally).
int InChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Writes 64x48 frames until the disk refuses one. Exit status 0 when every
// failure was reported and nothing after the first failure claimed success;
// the successes and reported bytes go to report.
int FillDisk(const std::string& path, const std::string& report) {
    Destination d;
    if (d.Open(path, kDib) != AVIERR_OK || SetFrameFormat(d.compressed, 64, 48) != AVIERR_OK) return 10;
    const Bytes picture = SmoothPicture(64, 48, 1);
    int good = 0;
    uint64_t reported = 0;
    for (; good < 1000; ++good) {
        int32_t bytes = 0;
        if (WriteFrame(d.compressed, good, picture, &bytes) != AVIERR_OK) break;
        reported += static_cast<uint32_t>(bytes);
    }
    if (good == 1000) return 11;  // the disk never filled
    for (int i = 0; i < 3; ++i)
        if (WriteFrame(d.compressed, good, picture) == AVIERR_OK) return 12;
    std::ofstream(report) << good << ' ' << reported;
    return 0;
}

TEST(WriterFullDisk, FileSizeLimitFailsTheWrites) {
    const std::string path = PathFor("limited.avi");
    const std::string report = path + ".txt";
    constexpr rlim_t kLimit = 200000;
    const int status = InChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);  // the failed write itself tells us
        struct rlimit limit;
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = kLimit;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 20;
        return FillDisk(path, report);
    });
    ASSERT_EQ(status, 0);
    int good = 0;
    uint64_t reported = 0;
    std::ifstream(report) >> good >> reported;
    EXPECT_EQ(good, static_cast<int>((kLimit - 2048) / (8 + 9216))) << "every chunk that fits";
    EXPECT_LE(reported, kLimit);
    // Every frame that was reported written is in the file and decodes.
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpenA(&f, path.c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM v = nullptr;
    ASSERT_EQ(AVIFileGetStream(f, &v, streamtypeVIDEO, 0), AVIERR_OK);
    AVISTREAMINFOA info{};
    AVIStreamInfoA(v, &info, sizeof info);
    EXPECT_EQ(info.dwLength, static_cast<uint32_t>(good));
    PGETFRAME g = AVIStreamGetFrameOpen(v, nullptr);
    ASSERT_NE(g, nullptr);
    const auto* last = static_cast<const uint8_t*>(AVIStreamGetFrame(g, good - 1));
    ASSERT_NE(last, nullptr);
    const Bytes picture = SmoothPicture(64, 48, 1);
    EXPECT_EQ(0, std::memcmp(last + 40, picture.data(), picture.size()));
    AVIStreamGetFrameClose(g);
    AVIStreamRelease(v);
    AVIFileRelease(f);
    if (HaveFfmpeg()) {
        EXPECT_EQ(Probe(path, "stream", "nb_read_frames", "v:0", true), std::to_string(good));
    }
}

TEST(WriterFullDisk, SmallTmpfsFillsUp) {
    const std::string dir = PathFor("tmpfs");
    std::filesystem::create_directory(dir);
    const int status = InChild([&] {
        // A mount of our own, seen by nobody else; not every machine allows one.
        const int flags = geteuid() == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS;
        if (unshare(flags) != 0) return 77;
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
        if (mount("tavrick-test", dir.c_str(), "tmpfs", 0, "size=256k") != 0) return 77;
        const std::string path = dir + "/full.avi";
        // The report goes beside the mount: the mount itself is full.
        const int r = FillDisk(path, dir + "-report.txt");
        if (r != 0) return r;
        int good = 0;
        std::ifstream(dir + "-report.txt") >> good;
        PAVIFILE f = nullptr;
        PAVISTREAM v = nullptr;
        if (AVIFileOpenA(&f, path.c_str(), OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) return 30;
        if (AVIFileGetStream(f, &v, streamtypeVIDEO, 0) != AVIERR_OK) return 31;
        AVISTREAMINFOA info{};
        AVIStreamInfoA(v, &info, sizeof info);
        AVIStreamRelease(v);
        AVIFileRelease(f);
        return info.dwLength == static_cast<uint32_t>(good) && good > 0 ? 0 : 32;
    });
    if (status == 77) GTEST_SKIP() << "no private tmpfs mount on this machine";
    EXPECT_EQ(status, 0);
}

}  // namespace
