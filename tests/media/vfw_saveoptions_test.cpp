// The compression options: presenters, attachments and the compressor list.
#include "media/vfw/compressor.h"
#include "media/vfw/saveoptions.h"
#include "tests/media/writer_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

AVICOMPRESSOPTIONS Stored() {
    AVICOMPRESSOPTIONS o{};
    o.fccType = streamtypeVIDEO;
    o.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    o.dwKeyFrameEvery = 30;
    o.dwQuality = 10000;
    o.dwFlags = AVICOMPRESSF_INTERLEAVE | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    o.dwInterleaveEvery = 1000;
    return o;
}

constexpr uint32_t kOffered = ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE;

TEST(SaveOptions, WithoutAPresenterTheRecordStands) {
    AVICOMPRESSOPTIONS o = Stored();
    const AVICOMPRESSOPTIONS before = o;
    AVICOMPRESSOPTIONS* list[] = {&o};
    EXPECT_NE(AVISaveOptions(nullptr, kOffered, 1, nullptr, list), 0);
    EXPECT_EQ(0, std::memcmp(&o, &before, sizeof o));
    EXPECT_EQ(AVISaveOptions(nullptr, kOffered, 0, nullptr, list), 0);
    AVICOMPRESSOPTIONS* none[] = {nullptr};
    EXPECT_EQ(AVISaveOptions(nullptr, kOffered, 1, nullptr, none), 0);
}

TEST(SaveOptions, GivenChoicesAreApplied) {
    AviOptionsChoice choice;
    choice.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
    choice.quality = 6000;
    choice.keyFrameEvery = 0;
    choice.bytesPerSecond = 500000;
    const AviOptionsPresenter p = AviChoicePresenter(&choice);

    AVICOMPRESSOPTIONS o = Stored();
    AVICOMPRESSOPTIONS* list[] = {&o};
    ASSERT_NE(AVISaveOptions(nullptr, kOffered, 1, nullptr, list, &p), 0);
    EXPECT_EQ(o.fccHandler, mmioFOURCC('M', 'J', 'P', 'G'));
    EXPECT_EQ(o.dwQuality, 6000u);
    EXPECT_EQ(o.dwKeyFrameEvery, 0u);
    EXPECT_EQ(o.dwBytesPerSecond, 500000u);
    EXPECT_EQ(o.dwFlags, AVICOMPRESSF_INTERLEAVE | AVICOMPRESSF_DATARATE | AVICOMPRESSF_VALID);
    EXPECT_EQ(o.dwInterleaveEvery, 1000u) << "not the presenter's to change";

    // Key frames and data rate only where the caller offers them.
    o = Stored();
    ASSERT_NE(AVISaveOptions(nullptr, 0, 1, nullptr, list, &p), 0);
    EXPECT_EQ(o.dwKeyFrameEvery, 30u);
    EXPECT_EQ(o.dwBytesPerSecond, 0u);
    EXPECT_EQ(o.dwFlags & (AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE), AVICOMPRESSF_KEYFRAMES);

    // Cancelled: zero, and the record as it was.
    choice.confirm = false;
    o = Stored();
    const AVICOMPRESSOPTIONS before = o;
    EXPECT_EQ(AVISaveOptions(nullptr, kOffered, 1, nullptr, list, &p), 0);
    EXPECT_EQ(0, std::memcmp(&o, &before, sizeof o));
}

TEST(SaveOptions, FreeReleasesWhatWasAttached) {
    AviOptionsChoice choice;
    choice.parms = {1, 2, 3, 4, 5};
    const AviOptionsPresenter p = AviChoicePresenter(&choice);
    const size_t alive = AviOptionsAttachmentCount();

    AVICOMPRESSOPTIONS o = Stored();
    AVICOMPRESSOPTIONS* list[] = {&o};
    ASSERT_NE(AVISaveOptions(nullptr, kOffered, 1, nullptr, list, &p), 0);
    ASSERT_NE(o.lpParms, 0u);
    EXPECT_EQ(o.cbParms, 5u);
    std::vector<uint8_t> parms;
    ASSERT_TRUE(AviOptionsAttachment(o.lpParms, &parms));
    EXPECT_EQ(parms, choice.parms);
    EXPECT_EQ(AviOptionsAttachmentCount(), alive + 1);

    const uint32_t number = o.lpParms;
    EXPECT_EQ(AVISaveOptionsFree(1, list), AVIERR_OK);
    EXPECT_EQ(AviOptionsAttachmentCount(), alive);
    EXPECT_FALSE(AviOptionsAttachment(number, nullptr));
    EXPECT_EQ(o.lpParms, 0u);
    EXPECT_EQ(o.cbParms, 0u);
    EXPECT_EQ(o.fccHandler, mmioFOURCC('D', 'I', 'B', ' ')) << "the choice itself stays";
    EXPECT_EQ(AVISaveOptionsFree(1, list), AVIERR_OK) << "freeing twice is harmless";
    EXPECT_EQ(AVISaveOptionsFree(-1, list), AVIERR_BADPARAM);
}

TEST(SaveOptions, NumbersFromAStoredRecordNameNothing) {
    // The settings store gives back whatever an earlier process left in the slots.
    const uint32_t kept = AviOptionsAttach("x", 1);
    AVICOMPRESSOPTIONS o = Stored();
    o.lpFormat = 0x00C0FFEE;
    o.cbFormat = 40;
    o.lpParms = kept;
    o.cbParms = 1;
    AVICOMPRESSOPTIONS* list[] = {&o};
    ASSERT_NE(AVISaveOptions(nullptr, kOffered, 1, nullptr, list), 0);
    EXPECT_EQ(o.lpFormat, 0u);
    EXPECT_EQ(o.cbFormat, 0u);
    EXPECT_EQ(o.lpParms, kept) << "a live attachment stays";
    AVISaveOptionsFree(1, list);
    EXPECT_FALSE(AviOptionsAttachment(kept, nullptr));

    // Junk in the slots doesn't stop a compressing stream either.
    o = Stored();
    o.lpFormat = o.lpParms = 0xFFFFFFFF;
    o.cbFormat = o.cbParms = 0x7FFFFFFF;
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, (TempDir() + "/junk-options.avi").c_str(), OF_CREATE, nullptr), AVIERR_OK);
    AVISTREAMINFOA vi{};
    vi.fccType = streamtypeVIDEO;
    PAVISTREAM v = nullptr, c = nullptr;
    ASSERT_EQ(AVIFileCreateStreamA(file, &v, &vi), AVIERR_OK);
    EXPECT_EQ(AVIMakeCompressedStream(&c, v, &o, nullptr), AVIERR_OK);
    AVIStreamRelease(c);
    AVIStreamRelease(v);
    AVIFileRelease(file);
}

TEST(CompressorList, WhatTheFrontEndsOffer) {
    const std::vector<AviCompressorInfo> list = AviListCompressors();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0].fccHandler, mmioFOURCC('D', 'I', 'B', ' '));
    EXPECT_TRUE(list[0].lossless);
    EXPECT_FALSE(list[0].quality || list[0].keyFrames || list[0].dataRate);
    for (const AviCompressorInfo& c : list) {
        AviCompressorInfo found{};
        EXPECT_TRUE(AviFindCompressor(c.fccHandler, &found)) << c.name;
        EXPECT_EQ(std::strcmp(found.name, c.name), 0);
        EXPECT_GT(std::strlen(c.name), 0u);
    }
    AviCompressorInfo info{};
    EXPECT_TRUE(AviFindCompressor(0, &info));
    EXPECT_EQ(info.fccHandler, mmioFOURCC('D', 'I', 'B', ' '));
    EXPECT_FALSE(AviFindCompressor(mmioFOURCC('N', 'O', 'N', 'E'), &info));
    if (AviFindCompressor(mmioFOURCC('m', 'j', 'p', 'g'), &info)) {
        EXPECT_EQ(info.fccHandler, mmioFOURCC('M', 'J', 'P', 'G')) << "codes match in any letter case";
        EXPECT_TRUE(info.quality);
        EXPECT_FALSE(info.keyFrames) << "every JPEG frame is a key frame";
    }
    if (AviFindCompressor(mmioFOURCC('x', 'v', 'i', 'd'), &info)) {
        EXPECT_EQ(info.fccHandler, mmioFOURCC('F', 'M', 'P', '4'));
    }
}

TEST(CompressorList, AnAliasIsStoredUnderItsOwnCode) {
    AviCompressorInfo info{};
    if (!AviFindCompressor(mmioFOURCC('X', 'V', 'I', 'D'), &info)) GTEST_SKIP() << "no MPEG-4 encoder";
    const std::string path = TempDir() + "/xvid.avi";
    ClipSpec spec;
    spec.fcc = mmioFOURCC('x', 'v', 'i', 'd');
    spec.frames = 3;
    ASSERT_EQ(WriteClip(path, spec).status, AVIERR_OK);
    if (HaveFfmpeg()) {
        EXPECT_EQ(Probe(path, "stream", "codec_tag_string"), "XVID");
        EXPECT_EQ(Probe(path, "stream", "codec_name"), "mpeg4");
        EXPECT_EQ(DecodeErrors(path), "");
    }
}

}  // namespace
