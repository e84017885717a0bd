// Starting a run as the GUI does (prepare, start, wait while serving) and the
// refusals before the worker, through one recording front end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/messages.h"
#include "job/start_run.h"
#include "media/source.h"
#include "tests/job/job_fixtures.h"

namespace {

struct Recorded {
    MessageBoxRecorder boxes;
    std::vector<int> results;
    int served = 0;
};

FrontEnd RecordingFrontEnd(Recorded& r) {
    FrontEnd f;
    f.context = &r;
    f.messageBox = [](void* c, HWND owner, const char* text, const char* caption, UINT style) {
        return PresentToRecorder(&static_cast<Recorded*>(c)->boxes, owner, text, caption, style);
    };
    f.reportResult = [](void* c, int id, unsigned) { static_cast<Recorded*>(c)->results.push_back(id); };
    return f;
}

TEST(StartRun, StepsOfAFrontEndThatKeepsItsEventLoop) {
    const std::string src = MakeSource("start.avi", Spec(16, 8, 4));
    const std::string dst = TempDir() + "/start-out.avi";
    Recorded r;
    RunSession session;
    session.settings.aspect = AspectPreset::Wide16x9;  // 16 x 0.5625 = 9 rows
    ASSERT_EQ(PrepareConversion(session, RecordingFrontEnd(r), src.c_str(), dst.c_str(), std::nullopt, false),
              sourceOpened);
    EXPECT_EQ(session.settings.outputHeight, 9);
    EXPECT_STREQ(session.settings.destinationPath, dst.c_str());
    ASSERT_EQ(StartConversion(session, RecordingFrontEnd(r)), conversionDone);
    const RunResult result = WaitForConversion(
        session, [](void* c) { ++static_cast<Recorded*>(c)->served; }, &r);
    EXPECT_EQ(result, conversionDone);
    EXPECT_EQ(r.results, std::vector<int>{IDS_DONE});
    EXPECT_TRUE(r.boxes.boxes.empty());
    CloseMedia(session.media, nullptr, false);
    EXPECT_EQ(ReadPictures(dst).size(), 4u);

    // The blocking call over the same records: the overwrite question goes
    // through the same message box, a typed height is clamped.
    r.boxes.questionAnswer = IDNO;
    EXPECT_EQ(ConvertFile(session, RecordingFrontEnd(r), src.c_str(), dst.c_str(), 40000, false), conversionStopped);
    EXPECT_EQ(session.settings.outputHeight, 32767);
    ASSERT_EQ(r.boxes.boxes.size(), 1u);
    EXPECT_EQ(r.boxes.boxes[0].text, "\"start-out.avi\" already exists. Overwrite it?");
    EXPECT_FALSE(session.media.source.isOpen);
}

TEST(StartRun, StoredValuesOutOfRangeAreCorrectedForEveryFrontEnd) {
    // As the GUI starts: its own open of the source, then StartConversion.
    const std::string src = MakeSource("range-start.avi", Spec(16, 8, 4));
    const std::string dst = TempDir() + "/range-start-out.avi";
    struct Told : Recorded {
        std::vector<std::string> corrected;
    } r;
    FrontEnd f = RecordingFrontEnd(r);
    f.settingCorrected = [](void* c, const char* text) { static_cast<Told*>(c)->corrected.push_back(text); };
    RunSession session;
    ASSERT_EQ(OpenSource(session.media, src.c_str()), sourceOpened);
    std::snprintf(session.settings.sourcePath, sizeof session.settings.sourcePath, "%s", src.c_str());
    std::snprintf(session.settings.destinationPath, sizeof session.settings.destinationPath, "%s", dst.c_str());
    session.settings.outputHeight = 8;
    session.settings.dstRate = -1;
    session.settings.intMethod = static_cast<InterpolationMethod>(99);
    ASSERT_EQ(StartConversion(session, f), conversionDone);
    EXPECT_EQ(WaitForConversion(session), conversionDone);
    CloseMedia(session.media, nullptr, false);
    EXPECT_EQ(r.corrected, (std::vector<std::string>{"dstRate -1 is out of range; using 25",
                                                     "intMethod 99 is out of range; using 6"}));
    EXPECT_EQ(ReadPictures(dst).size(), 4u);
}

TEST(StartRun, SourceRefusalsAreShownAndEndTheRunBeforeTheWorker) {
    Recorded r;
    RunSession session;
    const std::string missing = TempDir() + "/no-such-source.avi";
    EXPECT_EQ(PrepareConversion(session, RecordingFrontEnd(r), missing.c_str(), "out.avi", std::nullopt, false),
              sourceCannotOpen);
    ASSERT_EQ(r.boxes.boxes.size(), 1u);
    EXPECT_EQ(r.boxes.boxes[0].text, "Cannot open the input file. Please check that it's not opened elsewhere.");
    EXPECT_EQ(r.boxes.boxes[0].style, MB_ICONERROR | MB_TASKMODAL);
    EXPECT_FALSE(session.worker.thread.joinable()) << "no worker was started";
}

}  // namespace
