#include <gtest/gtest.h>

#include <filesystem>

#include "media/lav/output.h"
#include "media/source.h"
#include "tests/media/writer_fixtures.h"

namespace {

// A destination in another container is held as the AVI writer holds its
// own: a second writer is refused without emptying it, no reader gets in
// while it is written, and the first still finishes a file that plays. A
// colon in the name is part of the name, not a protocol.
TEST(LavOutput, ADestinationIsNobodyElses) {
    const std::string path = TempDir() + "/held:by-one.mkv";
    LavOutputSetup setup;
    setup.path = path.c_str();
    setup.width = 16;
    setup.height = 16;
    setup.stride = 48;
    setup.rateNum = 25;
    setup.fccHandler = mmioFOURCC('F', 'F', 'V', '1');
    std::string why;
    LavOutput* first = CreateLavOutput(setup, &why);
    ASSERT_NE(first, nullptr) << why;
    ASSERT_TRUE(WriteLavFrame(first, SmoothPicture(16, 16, 0).data(), true, false));
    const auto size = std::filesystem::file_size(path);

    EXPECT_EQ(CreateLavOutput(setup, &why), nullptr);
    EXPECT_EQ(why, path + ": open in another run");
    EXPECT_EQ(std::filesystem::file_size(path), size) << "a refused writer doesn't empty the file";
    EXPECT_EQ(CheckSourceFile(path.c_str()), SourceCheck::cannotOpen) << "nor can it be read while it is written";

    ASSERT_TRUE(WriteLavFrame(first, SmoothPicture(16, 16, 1).data(), false, false));
    EXPECT_TRUE(FinishLavOutput(first)) << LavOutputFailure(first);
    CloseLavOutput(first);
    EXPECT_EQ(Capture("ffmpeg -v error -i 'file:" + path + "' -f null - 2>&1"), "");
    EXPECT_EQ(Probe("file:" + path, "stream", "codec_name", "v:0"), "ffv1");
    LavOutput* again = CreateLavOutput(setup, &why);
    EXPECT_NE(again, nullptr) << why;
    CloseLavOutput(again);
}

}  // namespace
