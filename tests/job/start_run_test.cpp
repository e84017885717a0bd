// Starting a run as the GUI does (prepare, start, wait while serving) and the
// refusals before the worker, through one recording front end.
#include <gtest/gtest.h>

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
    const RunResult result = WaitForConversion(session, [](void* c) { ++static_cast<Recorded*>(c)->served; }, &r);
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
