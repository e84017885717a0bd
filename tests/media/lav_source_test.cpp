// A source read through libavformat, through the source record alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "media/lav/audio.h"
#include "media/lav/video.h"
#include "media/source.h"
#include "tests/media/avi_fixtures.h"
#include "tests/media/writer_fixtures.h"

namespace {

std::string Clip(const std::string& name, const std::string& args,
                 const std::string& inputs =
                     "-f lavfi -i testsrc2=size=138x40:rate=25:duration=3 "
                     "-f lavfi -i sine=frequency=500:sample_rate=16000:duration=3") {
    const std::string path = TempDir() + "/" + name;
    int rc = 0;
    const std::string out = Capture("ffmpeg -v error -y " + inputs + " " + args + " '" + path + "' 2>&1", &rc);
    EXPECT_EQ(rc, 0) << out;
    return path;
}

Bytes PictureAt(SourceMedia& s, std::int64_t n) {
    const std::uint8_t* p = SourcePicture(s, n);
    return p ? Bytes(p, p + s.frameFormat.header.biSizeImage) : Bytes();
}

// Whatever order positions are asked in (backwards, at random, far ahead),
// each gives the picture it gives in order: a method may fetch any frame.
TEST(LavSource, AnyOrderOfPositionsGivesTheSamePictures) {
    MediaState m;
    ASSERT_EQ(OpenSource(m, Clip("order.mkv", "-c:v libx264 -bf 3 -g 10 -pix_fmt yuv420p -c:a libopus").c_str()),
              sourceOpened);
    SourceMedia& s = m.source;
    EXPECT_EQ(s.description.container, "Matroska / WebM");
    EXPECT_EQ(s.videoInfo.dwLength, 75u);
    EXPECT_EQ(s.stride, 416u);
    std::vector<Bytes> inOrder;
    for (std::int64_t n = 0; n < 75; ++n) {
        inOrder.push_back(PictureAt(s, n));
        ASSERT_FALSE(inOrder.back().empty()) << n;
    }
    EXPECT_NE(inOrder[0], inOrder[5]);
    EXPECT_TRUE(PictureAt(s, 75).empty());
    EXPECT_TRUE(PictureAt(s, -1).empty());
    std::vector<std::int64_t> order(75);
    for (std::int64_t n = 0; n < 75; ++n) order[n] = 74 - n;
    std::mt19937 random(7);
    for (int k = 0; k < 40; ++k) order.push_back(static_cast<std::int64_t>(random() % 75));
    for (const std::int64_t n : order) ASSERT_EQ(PictureAt(s, n), inOrder[n]) << n;
    CloseMedia(m, nullptr, false);
    EXPECT_EQ(m.source.reader, nullptr);
}

// Decoded audio reads like the AVI services' PCM: by the sample, pieces
// equal one read, a read may go back, and past the end nothing comes.
TEST(LavSource, DecodedAudioReadsByTheSample) {
    MediaState m;
    ASSERT_EQ(OpenSource(m, Clip("sound.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac").c_str()), sourceOpened);
    SourceMedia& s = m.source;
    EXPECT_EQ(s.description.container, "MP4 (brand isom)");
    ASSERT_TRUE(s.hasAudio);
    EXPECT_TRUE(s.description.audioDecoded);
    EXPECT_TRUE(IsPcmAudio(s.audioFormat));
    EXPECT_EQ(s.audioFormat.wBitsPerSample, 16);
    EXPECT_EQ(s.audioFormat.nSamplesPerSec, 16000u);
    EXPECT_EQ(s.audioFormat.nBlockAlign, 2);
    const std::int32_t length = static_cast<std::int32_t>(s.audioInfo.dwLength);
    EXPECT_NEAR(length, 48000, 1024);
    const auto read = [&](std::int32_t from, std::int32_t count, Bytes& into) {
        into.assign(static_cast<size_t>(count) * 2, 0);
        std::int32_t bytes = 0, samples = 0;
        const bool ok =
            ReadSourceAudio(s, from, count, into.data(), static_cast<std::int32_t>(into.size()), &bytes, &samples);
        into.resize(static_cast<size_t>(bytes));
        return ok ? samples : -1;
    };
    Bytes whole, piece, pieces;
    ASSERT_EQ(read(0, 20000, whole), 20000);
    for (std::int32_t at = 0; at < 20000; at += 1234) {
        ASSERT_EQ(read(at, std::min(1234, 20000 - at), piece), std::min(1234, 20000 - at));
        pieces.insert(pieces.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(pieces, whole);
    ASSERT_EQ(read(5000, 100, piece), 100);
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), whole.begin() + 10000));
    EXPECT_EQ(read(length - 10, 100, piece), 10);  // the end cuts a read short
    EXPECT_EQ(read(length, 1, piece), -1);         // and nothing is past it
    // A buffer too small for the samples asked gets what fits.
    std::uint8_t small[7];
    std::int32_t bytes = 0, samples = 0;
    ASSERT_TRUE(ReadSourceAudio(s, 0, 100, small, sizeof small, &bytes, &samples));
    EXPECT_EQ(samples, 3);
    EXPECT_EQ(bytes, 6);
    CloseMedia(m, nullptr, false);
}

// Sound that starts hours after the picture (a timestamp jump, or a
// crafted file) plays after that much silence, made only where it is read:
// the gap here would be terabytes of samples.
TEST(LavSource, AudioAfterAHugeTimestampGapIsReadWithoutMakingTheGap) {
    const std::string path = Clip("gap.mkv", "-c:v libx264 -c:a pcm_s16le",
                                  "-f lavfi -i testsrc2=size=32x16:rate=25:duration=1 -itsoffset 100000000 "
                                  "-f lavfi -i sine=frequency=500:sample_rate=48000:duration=1");
    LavAudioInfo info;
    std::string why;
    LavAudio* a = OpenLavAudio(path.c_str(), 0, Ratio{0, 1}, &info, &why);
    ASSERT_NE(a, nullptr) << why;
    const std::int64_t start = 48000LL * 100000000;
    EXPECT_NEAR(static_cast<double>(info.length), static_cast<double>(start + 48000), 1024);
    const auto loudest = [&](std::int64_t from) {
        std::vector<std::int16_t> samples(4800, 1);
        EXPECT_EQ(ReadLavAudio(a, from, 4800, reinterpret_cast<std::uint8_t*>(samples.data())), 4800) << from;
        int peak = 0;
        for (std::int16_t v : samples) peak = std::max(peak, std::abs(int{v}));
        return peak;
    };
    EXPECT_EQ(loudest(0), 0);
    EXPECT_EQ(loudest(start / 2), 0);
    EXPECT_GT(loudest(start + 1000), 1000);
    EXPECT_EQ(loudest(1000), 0);  // going back starts over and finds the gap again
    CloseLavAudio(a);
}

// A broadcast's sound may change its channels and rate between programmes:
// the stream's own stays the delivered format and the rest is converted.
TEST(LavSource, AudioThatChangesChannelsAndRateMidwayIsConverted) {
    const std::string first = TempDir() + "/stereo48.ts", second = TempDir() + "/mono32.ts";
    const std::string path = TempDir() + "/switch.ts";
    int rc = 0;
    const std::string out = Capture(
        "ffmpeg -v error -y -f lavfi -i sine=frequency=500:sample_rate=48000:duration=1 -ac 2 -c:a mp2 '" + first +
            "' && ffmpeg -v error -y -f lavfi -i sine=frequency=700:sample_rate=32000:duration=1 -ac 1 -c:a mp2 "
            "-output_ts_offset 1 '" +
            second + "' && cat '" + first + "' '" + second + "' > '" + path + "' 2>&1",
        &rc);
    ASSERT_EQ(rc, 0) << out;
    LavAudioInfo info;
    std::string why;
    LavAudio* a = OpenLavAudio(path.c_str(), 0, Ratio{7, 5}, &info, &why);  // the file starts at 1.4 s
    ASSERT_NE(a, nullptr) << why;
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sampleRate, 48000);
    EXPECT_NEAR(static_cast<double>(info.length), 96000, 2400);
    std::vector<std::int16_t> samples(4800 * 2);
    int peak[2] = {0, 0};
    for (std::int64_t at = 0; at + 4800 <= info.length; at += 4800) {
        ASSERT_EQ(ReadLavAudio(a, at, 4800, reinterpret_cast<std::uint8_t*>(samples.data())), 4800) << at;
        for (std::int16_t v : samples) peak[at >= 48000] = std::max(peak[at >= 48000], std::abs(int{v}));
    }
    EXPECT_GT(peak[0], 1000);
    EXPECT_GT(peak[1], 1000);
    CloseLavAudio(a);
}

// Two pictures a year and a half apart (a broken or crafted timestamp): the
// grid between them takes no memory (it was gigabytes), and its last
// position shows the second picture.
TEST(LavSource, AFarTimestampMakesALongGridThatTakesNoMemory) {
    const std::string path = Clip("far.mkv",
                                  "-frames:v 2 -vf \"select='eq(n,0)+eq(n,50)',setpts='if(eq(N,1),5e7/TB,0)'\" "
                                  "-fps_mode passthrough -c:v libx264 -bf 0",
                                  "-f lavfi -i testsrc2=size=64x32:rate=25");
    LavVideoInfo info;
    std::string why;
    LavVideo* v = OpenLavVideo(path.c_str(), Ratio{25, 1}, &info, &why);
    ASSERT_NE(v, nullptr) << why;
    EXPECT_EQ(info.pictures, 2);
    EXPECT_EQ(info.length, 25LL * 50'000'000 + 1);
    const std::size_t bytes = std::size_t{(3 * 64 + 3) & ~3} * 32;
    const auto picture = [&](std::int64_t n) {
        const std::uint8_t* p = LavVideoPicture(v, n);
        return p ? Bytes(p, p + bytes) : Bytes();
    };
    const Bytes first = picture(0);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(picture(info.length - 2), first);
    const Bytes last = picture(info.length - 1);
    ASSERT_FALSE(last.empty());
    EXPECT_NE(last, first);
    EXPECT_TRUE(picture(info.length).empty());
    CloseLavVideo(v);
}

}  // namespace
