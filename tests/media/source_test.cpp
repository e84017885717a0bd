#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "media/source.h"
#include "tests/media/media_fixtures.h"

namespace {

// A file of `size` bytes, holes but for an AVI file's first 12 bytes unless `riff` is false.
std::string SparseFile(const std::string& name, off_t size, bool riff = true) {
    const std::string path = TempDir() + "/" + name;
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    EXPECT_GE(fd, 0);
    if (riff) {
        EXPECT_EQ(write(fd, "RIFF\0\0\0\0AVI ", 12), 12);
    }
    EXPECT_EQ(ftruncate(fd, size), 0);
    close(fd);
    return path;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// Nothing of a failed or closed source is held any more.
void ExpectNothingHeld(const MediaState& m, int initCount) {
    EXPECT_FALSE(m.source.isOpen);
    EXPECT_EQ(m.source.reader, nullptr);
    EXPECT_FALSE(m.source.hasAudio);
    EXPECT_EQ(AVIFileInitCount(), initCount);
}

TEST(CheckSourceFile, SizeLimitAndUnopenableFiles) {
    EXPECT_EQ(CheckSourceFile(SparseFile("exact.avi", 0x80000000LL).c_str()), SourceCheck::admitted);
    EXPECT_EQ(CheckSourceFile(SparseFile("over.avi", 0x80000001LL).c_str()), SourceCheck::tooLarge);
    EXPECT_EQ(CheckSourceFile(SparseFile("huge.avi", 0x100000000LL + 5).c_str()), SourceCheck::tooLarge);
    // The limit is the AVI reader's: other containers are read by libavformat.
    EXPECT_EQ(CheckSourceFile(SparseFile("huge.mkv", 0x100000000LL + 5, false).c_str()), SourceCheck::admitted);
    EXPECT_EQ(CheckSourceFile((TempDir() + "/missing.avi").c_str()), SourceCheck::cannotOpen);
    EXPECT_EQ(CheckSourceFile(TempDir().c_str()), SourceCheck::cannotOpen);
    // A file that is being written (our writer holds it exclusively) is refused.
    const std::string busy = TempDir() + "/busy.avi";
    PAVIFILE writer = nullptr;
    ASSERT_EQ(AVIFileOpenA(&writer, busy.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    EXPECT_EQ(CheckSourceFile(busy.c_str()), SourceCheck::cannotOpen);
    AVIFileRelease(writer);
    EXPECT_EQ(CheckSourceFile(busy.c_str()), SourceCheck::admitted);
}

TEST(OpenSource, VideoOnlyDescribesTheFrames) {
    const int base = AVIFileInitCount();
    MediaState m;
    ASSERT_EQ(OpenSource(m, MakeSource("video.avi", Spec(641, 480, 1)).c_str()), sourceOpened);
    EXPECT_TRUE(m.source.isOpen);
    EXPECT_FALSE(m.source.hasAudio);
    EXPECT_EQ(m.source.description.container, "AVI");
    EXPECT_EQ(m.source.stride, 1924u);
    const BITMAPINFOHEADER& h = m.source.frameFormat.header;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 641);
    EXPECT_EQ(h.biHeight, 480);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biSizeImage, 923520u);
    EXPECT_EQ(m.source.videoInfo.dwLength, 1u);
    EXPECT_EQ(m.source.videoInfo.dwRate, 25u);
    EXPECT_EQ(AVIFileInitCount(), base + 1);
    EXPECT_NE(SourcePicture(m.source, 0), nullptr);
    EXPECT_EQ(SourcePicture(m.source, 1), nullptr);  // past the end
    CloseMedia(m, nullptr, false);
    ExpectNothingHeld(m, base);
}

TEST(OpenSource, AudioFormatOfEighteenBytesOnly) {
    const int base = AVIFileInitCount();
    MediaState m;
    SourceSpec spec;
    spec.audio = true;
    ASSERT_EQ(OpenSource(m, MakeSource("audio.avi", spec).c_str()), sourceOpened);
    ASSERT_TRUE(m.source.hasAudio);
    EXPECT_FALSE(m.source.description.audioDecoded);
    EXPECT_EQ(m.source.audioFormat.nChannels, 2);
    EXPECT_EQ(m.source.audioFormat.nSamplesPerSec, 8000u);
    EXPECT_EQ(m.source.audioFormat.wBitsPerSample, 16);
    EXPECT_EQ(m.source.audioInfo.dwRate, 8000u);
    CloseMedia(m, nullptr, false);
    // A 16-byte PCM format fits the 18-byte record too.
    spec.audioFormat = PcmFormat(1, 8000, 8, false);
    ASSERT_EQ(OpenSource(m, MakeSource("pcm16.avi", spec).c_str()), sourceOpened);
    EXPECT_EQ(m.source.audioFormat.nChannels, 1);
    CloseMedia(m, nullptr, false);
    // MP3's format carries 12 extra bytes, which the AVI services refuse; what
    // is in these chunks doesn't decode either: refused although the video is fine.
    Bytes mp3 = PcmFormat(2, 44100, 0, true);
    mp3[0] = 0x55;
    mp3[16] = 12;
    mp3.resize(30, 1);
    spec.audioFormat = mp3;
    EXPECT_EQ(OpenSource(m, MakeSource("mp3.avi", spec).c_str()), sourceNoInfo);
    ExpectNothingHeld(m, base);
}

TEST(OpenSource, RefusalsHoldNothing) {
    const int base = AVIFileInitCount();
    MediaState m;
    EXPECT_EQ(OpenSource(m, WriteFile("junk.avi", Bytes(4096, 0x42)).c_str()), sourceCannotOpen);
    ExpectNothingHeld(m, base);
    EXPECT_EQ(OpenSource(m, (TempDir() + "/none.avi").c_str()), sourceCannotOpen);
    ExpectNothingHeld(m, base);
    SourceSpec audioOnly;
    audioOnly.video = false;
    audioOnly.audio = true;
    EXPECT_EQ(OpenSource(m, MakeSource("noviddeo.avi", audioOnly).c_str()), sourceNoVideo);
    ExpectNothingHeld(m, base);
    EXPECT_EQ(OpenSource(m, MakeSource("flat.avi", Spec(32, 0, 2)).c_str()), sourceUnsupported);
    ExpectNothingHeld(m, base);
    // A codec nobody decodes: no frame getter.
    FixtureFile f;
    f.width = 16;
    f.height = 16;
    FixtureStream v;
    v.format = BitmapFormat(16, 16, 24, mmioFOURCC('Q', 'Z', 'Q', 'Z'));
    v.handler = mmioFOURCC('Q', 'Z', 'Q', 'Z');
    v.length = 1;
    v.chunks.push_back(Bytes(100, 7));
    f.streams.push_back(v);
    EXPECT_EQ(OpenSource(m, WriteFile("unknown.avi", BuildAvi(f)).c_str()), sourceUnsupported);
    ExpectNothingHeld(m, base);
    EXPECT_EQ(ResultMessageId(sourceNoInfo), 108);
    EXPECT_EQ(ResultMessageId(sourceOpened), 0);
}

TEST(CloseMedia, FullCloseFreesOnceAndDeletes) {
    const int base = AVIFileInitCount();
    MediaState m;
    ASSERT_EQ(OpenSource(m, MakeSource("close.avi", {}).c_str()), sourceOpened);
    for (auto& slot : m.buffers.ring) slot = AllocateFrameBuffer(100);
    m.buffers.outputFrame = AllocateFrameBuffer(100);
    m.buffers.scratchFrame = AllocateFrameBuffer(100);
    const std::string leftover = WriteFile("half-made.avi", Bytes(10, 1));
    CloseMedia(m, leftover.c_str(), false);
    for (auto* slot : m.buffers.ring) EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(m.buffers.outputFrame, nullptr);
    EXPECT_FALSE(Exists(leftover));
    ExpectNothingHeld(m, base);
    CloseMedia(m, nullptr, false);  // frees nothing twice
    ExpectNothingHeld(m, base);
}

TEST(CloseMedia, DestinationOnlyCloseKeepsTheSource) {
    MediaState m;
    ASSERT_EQ(OpenSource(m, MakeSource("keep.avi", {}).c_str()), sourceOpened);
    const std::string out = TempDir() + "/keep-out.avi";
    ASSERT_EQ(AVIFileOpenA(&m.destination.file, out.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    m.buffers.outputFrame = AllocateFrameBuffer(64);
    CloseMedia(m, nullptr, true);
    EXPECT_EQ(m.destination.file, nullptr);
    EXPECT_TRUE(m.source.isOpen);
    EXPECT_NE(m.buffers.outputFrame, nullptr);
    EXPECT_NE(SourcePicture(m.source, 1), nullptr);
    CloseMedia(m, nullptr, false);
}

}  // namespace
