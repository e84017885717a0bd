// Which container a destination name gives, and what each container is
// offered and written with.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "media/lav/output_codecs.h"

namespace {

TEST(OutputCodecs, TheExtensionOfTheFileNameChoosesTheContainer) {
    EXPECT_EQ(OutputContainerOf("/v/clip.mkv"), OutputContainer::mkv);
    EXPECT_EQ(OutputContainerOf("/v/CLIP.MP4"), OutputContainer::mp4);
    EXPECT_EQ(OutputContainerOf("clip.mov"), OutputContainer::mov);
    EXPECT_EQ(OutputContainerOf("clip.webm"), OutputContainer::webm);
    // Anything else is written as AVI, as every name was before.
    EXPECT_EQ(OutputContainerOf("clip.mkv.avi"), OutputContainer::avi);
    EXPECT_EQ(OutputContainerOf("/v/films.mkv/clip"), OutputContainer::avi);
    EXPECT_EQ(OutputContainerOf("clip.ts"), OutputContainer::avi);
    EXPECT_EQ(OutputContainerOf("clip"), OutputContainer::avi);
}

TEST(OutputCodecs, EachContainerListsWhatItTakesAndNothingElse) {
    const std::vector<AviCompressorInfo> avi = AviListCompressors(),
                                         listed = ListOutputCompressors(OutputContainer::avi);
    ASSERT_EQ(listed.size(), avi.size());  // the AVI list as it always was
    for (std::size_t i = 0; i < avi.size(); ++i) EXPECT_EQ(listed[i].fccHandler, avi[i].fccHandler);
    for (OutputContainer c :
         {OutputContainer::mkv, OutputContainer::mp4, OutputContainer::mov, OutputContainer::webm}) {
        SCOPED_TRACE(OutputContainerName(c));
        const std::vector<AviCompressorInfo> list = ListOutputCompressors(c);
        EXPECT_FALSE(list.empty());
        for (const AviCompressorInfo& info : list) {
            EXPECT_TRUE(ContainerTakesCompressor(c, info.fccHandler)) << info.name;
            OutputEncoder encoder;
            EXPECT_TRUE(FindOutputEncoder(info.fccHandler, &encoder)) << info.name;
        }
    }
    // Codes known only outside AVI are found, but no AVI takes them.
    AviCompressorInfo info{};
    if (FindOutputCompressor(mmioFOURCC('H', 'E', 'V', 'C'), &info)) {
        EXPECT_FALSE(ContainerTakesCompressor(OutputContainer::avi, info.fccHandler));
        EXPECT_TRUE(ContainerTakesCompressor(OutputContainer::mkv, info.fccHandler));
        EXPECT_FALSE(ContainerTakesCompressor(OutputContainer::webm, info.fccHandler));
    }
    // WebM is VP9 and AV1 only.
    EXPECT_FALSE(ContainerTakesCompressor(OutputContainer::webm, mmioFOURCC('H', '2', '6', '4')));
    EXPECT_FALSE(ContainerTakesCompressor(OutputContainer::webm, mmioFOURCC('F', 'F', 'V', '1')));
}

TEST(OutputCodecs, TheSoundKeepsItsCodecWhereTheContainerTakesIt) {
    struct Case {
        OutputContainer container;
        AudioChoice choice;
        const char* source;
        AudioCodec written;
    } cases[] = {
        {OutputContainer::mkv, AudioChoice::automatic, "PCM", AudioCodec::pcm},
        {OutputContainer::mov, AudioChoice::automatic, "PCM signed 16-bit little-endian", AudioCodec::pcm},
        {OutputContainer::mp4, AudioChoice::automatic, "PCM", AudioCodec::aac},
        {OutputContainer::webm, AudioChoice::automatic, "AAC (Advanced Audio Coding)", AudioCodec::opus},
        {OutputContainer::mkv, AudioChoice::automatic, "AAC (Advanced Audio Coding)", AudioCodec::aac},
        {OutputContainer::mkv, AudioChoice::automatic, "MP3 (MPEG audio layer 3)", AudioCodec::opus},
        {OutputContainer::mov, AudioChoice::automatic, "AC-3 (ATSC A/52A (AC-3))", AudioCodec::aac},
        {OutputContainer::mkv, AudioChoice::flac, "PCM", AudioCodec::flac},
        {OutputContainer::webm, AudioChoice::opus, "PCM", AudioCodec::opus},
        {OutputContainer::mkv, AudioChoice::copy, "Opus (Opus Audio Codec)", AudioCodec::opus},
        // What can't be had is none: the run refuses the destination.
        {OutputContainer::webm, AudioChoice::pcm, "PCM", AudioCodec::none},
        {OutputContainer::mov, AudioChoice::opus, "PCM", AudioCodec::none},
        {OutputContainer::mp4, AudioChoice::flac, "PCM", AudioCodec::none},
        {OutputContainer::webm, AudioChoice::copy, "AAC (Advanced Audio Coding)", AudioCodec::none},
        {OutputContainer::mkv, AudioChoice::copy, "MP3 (MPEG audio layer 3)", AudioCodec::none},
        {OutputContainer::avi, AudioChoice::automatic, "PCM", AudioCodec::none},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseAudioCodec(c.container, c.choice, c.source), c.written)
            << OutputContainerName(c.container) << " " << c.source;
}

// Without being asked, MP4 and MOV carry as stored only what players play there.
TEST(OutputCodecs, WhatGoesOverAsStoredWithoutBeingAsked) {
    EXPECT_TRUE(CarriedAsStoredByDefault(OutputContainer::mp4, AV_CODEC_ID_AAC));
    EXPECT_TRUE(CarriedAsStoredByDefault(OutputContainer::mov, AV_CODEC_ID_PCM_S24LE));
    EXPECT_TRUE(CarriedAsStoredByDefault(OutputContainer::mkv, AV_CODEC_ID_VORBIS));
    EXPECT_TRUE(CarriedAsStoredByDefault(OutputContainer::webm, AV_CODEC_ID_VORBIS));
    EXPECT_FALSE(CarriedAsStoredByDefault(OutputContainer::mp4, AV_CODEC_ID_VORBIS));
    EXPECT_FALSE(CarriedAsStoredByDefault(OutputContainer::mp4, AV_CODEC_ID_PCM_S16LE));
    EXPECT_FALSE(CarriedAsStoredByDefault(OutputContainer::mov, AV_CODEC_ID_OPUS));
    EXPECT_FALSE(CarriedAsStoredByDefault(OutputContainer::mov, AV_CODEC_ID_MP2));
    EXPECT_FALSE(CarriedAsStoredByDefault(OutputContainer::avi, AV_CODEC_ID_AAC));
}

}  // namespace
