#include <gtest/gtest.h>

#include "job/source_info.h"

namespace {

TEST(AspectOutputHeight, PresetsFromTheSourceWidth) {
    // Preset, width, height: the examples the main dialog shows.
    const int cases[][3] = {{1, 720, 540},  {2, 720, 576},  {3, 352, 288},  {4, 720, 480},  {5, 352, 240},
                            {6, 720, 405},  {7, 720, 432},  {8, 352, 216},  {9, 720, 360},  {10, 352, 180},
                            {11, 720, 306}, {12, 720, 327}, {13, 352, 163}, {14, 720, 272}, {15, 352, 136}};
    for (const auto& c : cases) EXPECT_EQ(AspectOutputHeight(c[0], c[1], 999), c[2]) << "preset " << c[0];
    EXPECT_EQ(AspectOutputHeight(0, 720, 571), 571);
    EXPECT_EQ(AspectOutputHeight(16, 720, 571), -1);
    EXPECT_EQ(AspectOutputHeight(17, 720, 571), -1);
}

TEST(SourceInfoText, LengthsAndRatesAsThePanelShowsThem) {
    SourceMedia s;
    s.fileInfo.dwWidth = 720;
    s.fileInfo.dwHeight = 576;
    s.videoInfo.dwRate = 25;
    s.videoInfo.dwScale = 1;
    s.videoInfo.dwLength = 90001;
    EXPECT_EQ(VideoInfoText(s),
              "Width: 720 px\nHeight: 576 px\nRate: 25.000 fps\nLength (time): 1h 0m 0s 39ms\nLength (frames): 90001");
    s.videoInfo.dwLength = 3750;
    EXPECT_NE(VideoInfoText(s).find("Length (time): 0h 2m 30s 0ms\n"), std::string::npos);
    // One frame of 4294967295 seconds: more hours than an int holds seconds.
    s.videoInfo.dwRate = 1;
    s.videoInfo.dwScale = 0xffffffffu;
    s.videoInfo.dwLength = 1;
    EXPECT_NE(VideoInfoText(s).find("Length (time): 1193046h 28m 15s 0ms\n"), std::string::npos) << VideoInfoText(s);
    // A stream without a rate: nothing divides by zero.
    s.videoInfo.dwRate = 0;
    EXPECT_NE(VideoInfoText(s).find("Rate: 0.000 fps\nLength (time): 0h 0m 0s 0ms"), std::string::npos);

    EXPECT_EQ(AudioInfoText(s), emptyAudioInfoText);
    s.hasAudio = true;
    s.audioInfo.dwRate = 176400;
    s.audioInfo.dwScale = 4;
    s.audioInfo.dwLength = 6615000;
    s.audioFormat.nSamplesPerSec = 44100;
    s.audioFormat.nChannels = 2;
    s.audioFormat.wBitsPerSample = 16;
    EXPECT_EQ(AudioInfoText(s),
              "Rate: 44100 Hz\nChannels: 2\nBits: 16\nLength (time): 0h 2m 30s 0ms\nLength (frames): 6615000");
    s.audioInfo.dwScale = 0;  // a rate that truncates to nothing: the empty text
    EXPECT_EQ(AudioInfoText(s), emptyAudioInfoText);
}

}  // namespace
