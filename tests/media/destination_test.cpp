#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/messages.h"
#include "media/destination.h"
#include "media/source.h"
#include "media/vfw/compressor.h"
#include "media/vfw/saveoptions.h"
#include "tests/media/media_fixtures.h"
#include "tests/media/writer_fixtures.h"

namespace {

TEST(DestinationRate, WholeRatesAndThousandths) {
    std::uint32_t rate = 0, scale = 0;
    DestinationRate(25.0, &rate, &scale);
    EXPECT_EQ(rate, 25u);
    EXPECT_EQ(scale, 1u);
    const std::pair<double, std::uint32_t> fractional[] = {{29.97, 29970}, {23.976, 23976}, {12.5, 12500}};
    for (auto [r, expected] : fractional) {
        DestinationRate(r, &rate, &scale);
        EXPECT_EQ(rate, expected);
        EXPECT_EQ(scale, 1000u);
    }
    // A fraction goes in as given, reduced.
    DestinationRate(FractionRate(60000, 2002), &rate, &scale);
    EXPECT_EQ(rate, 30000u);
    EXPECT_EQ(scale, 1001u);
}

TEST(AudioChunking, WorkedExamples) {
    WAVEFORMATEX stereo16{1, 2, 44100, 176400, 4, 16, 0};
    AudioChunking c = ComputeAudioChunking(0, 25.0, stereo16);
    EXPECT_EQ(c.framesPerAudioChunk, 1u);
    EXPECT_EQ(c.samplesPerAudioChunk, 1764.0);
    EXPECT_EQ(c.audioChunkBytes, 7060u);
    WAVEFORMATEX dat{1, 2, 48000, 192000, 4, 16, 0};
    c = ComputeAudioChunking(0, 29.97, dat);
    EXPECT_NEAR(c.samplesPerAudioChunk, 1601.6016, 1e-4);
    EXPECT_EQ(c.audioChunkBytes, 6408u);
    c = ComputeAudioChunking(1000, 25.0, dat);
    EXPECT_EQ(c.framesPerAudioChunk, 25u);
    EXPECT_EQ(c.samplesPerAudioChunk, 48000.0);
    EXPECT_EQ(ComputeAudioChunking(79, 25.0, dat).framesPerAudioChunk, 1u);
    EXPECT_EQ(ComputeAudioChunking(80, 25.0, dat).framesPerAudioChunk, 2u);
    // No bit depth: two bytes per sample.
    WAVEFORMATEX noBits{1, 1, 8000, 8000, 1, 0, 0};
    EXPECT_EQ(ComputeAudioChunking(0, 25.0, noBits).audioChunkBytes, 321u * 2);
    // Blocks wider than the bit depth says still fit whole.
    WAVEFORMATEX packed{1, 2, 8000, 24000, 3, 12, 0};
    EXPECT_EQ(ComputeAudioChunking(0, 25.0, packed).audioChunkBytes, 321u * 3);
    // At an exact NTSC rate 1001 ms are 30 frames, and a chunk is 1601.6 samples
    // from integers (the decimal 29.97 gives 29 frames and 1601.6016...).
    const FrameRate ntsc = FractionRate(30000, 1001);
    c = ComputeAudioChunking(1001, ntsc, dat);
    EXPECT_EQ(c.framesPerAudioChunk, 30u);
    EXPECT_EQ(c.samplesPerAudioChunk, 48048.0);
    EXPECT_EQ(ComputeAudioChunking(1001, 29.97, dat).framesPerAudioChunk, 29u);
    EXPECT_EQ(ComputeAudioChunking(0, ntsc, dat).samplesPerAudioChunk, 1601.6);
}

// An open source, recorded message boxes and an applying options presenter.
struct DestinationRun {
    MediaState media;
    MessageBoxRecorder boxes;
    AviOptionsChoice choice;
    AviOptionsPresenter presenter;
    AVICOMPRESSOPTIONS options{};
    int presented = 0;

    explicit DestinationRun(const SourceSpec& spec, const char* name) {
        EXPECT_EQ(OpenSource(media, MakeSource(name, spec).c_str()), sourceOpened);
        presenter = {[](void* ctx, void* owner, uint32_t flags, int32_t n, PAVISTREAM* s, AVICOMPRESSOPTIONS** o) {
                         auto* run = static_cast<DestinationRun*>(ctx);
                         ++run->presented;
                         EXPECT_EQ(flags, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE);
                         const AviOptionsPresenter apply = AviChoicePresenter(&run->choice);
                         return apply.present(apply.context, owner, flags, n, s, o);
                     },
                     this};
        options.fccType = streamtypeVIDEO;
        options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
        options.dwQuality = 10000;
    }
    ~DestinationRun() { CloseMedia(media, nullptr, false); }
    RunResult Create(const std::string& path, bool continuation = false, int height = 24, double rate = 25.0) {
        const DestinationPrompts prompts{UserCalls{&boxes, PresentToRecorder, nullptr}, presenter, nullptr};
        return CreateDestination(media, options, prompts, path.c_str(), continuation, height, rate);
    }
};

TEST(CreateDestination, StreamsAsDescribed) {
    const SourceSpec spec = Spec(640, 24, 2, true);
    DestinationRun run(spec, "dst-source.avi");
    const std::string out = TempDir() + "/dst.avi";
    ASSERT_EQ(run.Create(out, false, 240, 29.97), destinationCreated);
    const DestinationMedia& d = run.media.destination;
    EXPECT_EQ(d.frameFormat.header.biHeight, 240);
    EXPECT_EQ(d.frameFormat.header.biSizeImage, 460800u);
    EXPECT_EQ(d.framesPerAudioChunk, 1u);
    ASSERT_NE(d.audioChunk, nullptr);
    EXPECT_EQ(run.presented, 1);
    // One frame and one audio chunk, then close and read back.
    Bytes picture(460800, 9);
    std::int32_t bytes = 0;
    ASSERT_EQ(AVIStreamWrite(d.compressedStream, 0, 1, picture.data(), 460800, AVIIF_KEYFRAME, nullptr, &bytes),
              AVIERR_OK);
    EXPECT_GT(bytes, 460800);
    ASSERT_EQ(AVIStreamWrite(d.audioStream, 0, 100, picture.data(), 400, 0, nullptr, &bytes), AVIERR_OK);
    CloseMedia(run.media, nullptr, true);

    MediaState back;
    ASSERT_EQ(OpenSource(back, out.c_str()), sourceOpened);
    EXPECT_EQ(back.source.videoInfo.dwRate, 29970u);
    EXPECT_EQ(back.source.videoInfo.dwScale, 1000u);
    EXPECT_EQ(back.source.videoInfo.rcFrame.right, 640);
    EXPECT_EQ(back.source.videoInfo.rcFrame.bottom, 240);
    EXPECT_EQ(back.source.fileInfo.dwHeight, 240u);
    EXPECT_EQ(back.source.videoInfo.dwLength, 1u);
    ASSERT_TRUE(back.source.hasAudio);
    EXPECT_EQ(back.source.audioFormat.nSamplesPerSec, 8000u);
    EXPECT_EQ(back.source.audioInfo.dwLength, 100u);
    CloseMedia(back, nullptr, false);
    EXPECT_EQ(Probe(out, "stream", "codec_type", "a:0"), "audio");
}

TEST(CreateDestination, OverwriteQuestion) {
    DestinationRun run({}, "ow-source.avi");
    const std::string out = TempDir() + "/existing.avi";
    WriteFile("existing.avi", Bytes(77, 3));
    run.boxes.questionAnswer = IDNO;
    EXPECT_EQ(run.Create(out), destinationDeclined);
    ASSERT_EQ(run.boxes.boxes.size(), 1u);
    EXPECT_EQ(run.boxes.boxes[0].text, "\"existing.avi\" already exists. Overwrite it?");
    EXPECT_EQ(run.boxes.boxes[0].caption, "Tavrick");
    EXPECT_EQ(run.boxes.boxes[0].style & (MB_ICONQUESTION | MB_YESNO), MB_ICONQUESTION | MB_YESNO);
    EXPECT_EQ(ReadWholeFile(out), Bytes(77, 3));
    EXPECT_EQ(run.presented, 0);
    run.boxes.questionAnswer = IDYES;
    EXPECT_EQ(run.Create(out), destinationCreated);
    CloseMedia(run.media, nullptr, true);
    EXPECT_NE(ReadWholeFile(out).size(), 77u);
}

TEST(CreateDestination, NeverReplacesAFileInUse) {
    const SourceSpec spec = Spec(32, 24, 3);
    DestinationRun run(spec, "in-use-source.avi");
    run.boxes.questionAnswer = IDYES;
    // Converting a file onto itself: the open source is not deleted.
    const std::string source = TempDir() + "/in-use-source.avi";
    const Bytes before = ReadWholeFile(source);
    EXPECT_EQ(run.Create(source), destinationCannotCreate);
    EXPECT_EQ(ReadWholeFile(source), before);
    EXPECT_NE(SourcePicture(run.media.source, 2), nullptr);
    // Nor is a file that another writer holds.
    const std::string busy = TempDir() + "/busy-destination.avi";
    PAVIFILE other = nullptr;
    ASSERT_EQ(AVIFileOpenA(&other, busy.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    EXPECT_EQ(run.Create(busy), destinationCannotCreate);
    AVIFileRelease(other);
    EXPECT_EQ(run.Create(busy), destinationCreated);
}

TEST(CreateDestination, FailuresAndTheirCodes) {
    DestinationRun run(Spec(32, 24, 2, true), "fail-source.avi");
    EXPECT_EQ(run.Create(TempDir() + "/no/such/folder/out.avi"), destinationCannotCreate);
    // Cancelling the options ends silently; the file stays.
    run.choice.confirm = false;
    const std::string cancelled = TempDir() + "/cancelled.avi";
    EXPECT_EQ(run.Create(cancelled), destinationDeclined);
    EXPECT_EQ(run.media.destination.file, nullptr);
    struct stat st {};
    EXPECT_EQ(stat(cancelled.c_str(), &st), 0);
    run.choice.confirm = true;
    // A compressor nobody has.
    run.options.fccHandler = mmioFOURCC('Q', 'Z', 'Q', 'Z');
    EXPECT_EQ(run.Create(TempDir() + "/nocodec.avi"), destinationNoStream);
    // A compressor that refuses the frame size.
    AviCompressorInfo dv;
    if (AviFindCompressor(mmioFOURCC('d', 'v', 's', 'd'), &dv)) {
        run.options.fccHandler = dv.fccHandler;
        EXPECT_EQ(run.Create(TempDir() + "/dv.avi"), destinationFormatRefused);
    }
    EXPECT_TRUE(run.media.source.isOpen);
    // An absurd interleave can't get its audio buffer: everything closes and
    // the file goes.
    run.options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    run.options.dwInterleaveEvery = 4000000000u;
    const std::string big = TempDir() + "/bigchunk.avi";
    EXPECT_EQ(run.Create(big, false, 24, 1000.0), destinationNoMemory);
    EXPECT_FALSE(run.media.source.isOpen);
    EXPECT_NE(stat(big.c_str(), &st), 0);
}

TEST(CreateDestination, ContinuationKeepsChoiceAndChunks) {
    DestinationRun run(Spec(32, 24, 2, true), "cont-source.avi");
    run.options.dwInterleaveEvery = 1000;
    ASSERT_EQ(run.Create(TempDir() + "/seg.00.avi"), destinationCreated);
    std::uint8_t* chunk = run.media.destination.audioChunk;
    CloseMedia(run.media, nullptr, true);
    run.options.dwInterleaveEvery = 0;  // would change the chunking if it were recomputed
    ASSERT_EQ(run.Create(TempDir() + "/seg.01.avi", true), destinationCreated);
    EXPECT_EQ(run.presented, 1);
    EXPECT_EQ(run.media.destination.audioChunk, chunk);
    EXPECT_EQ(run.media.destination.framesPerAudioChunk, 25u);
}

}  // namespace
