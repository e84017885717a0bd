#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/progress.h"

namespace {

struct Recorder {
    std::vector<std::string> statuses, titles;
    std::vector<int> bars;
};

FrontEnd RecordingTarget(Recorder& r) {
    FrontEnd t;
    t.context = &r;
    t.setStatusText = [](void* c, const char* s) { static_cast<Recorder*>(c)->statuses.push_back(s); };
    t.setProgressBar = [](void* c, int p) { static_cast<Recorder*>(c)->bars.push_back(p); };
    t.setMainTitle = [](void* c, const char* s) { static_cast<Recorder*>(c)->titles.push_back(s); };
    return t;
}

TEST(ReportProgress, QuarterWayWritesAllThreePlaces) {
    Recorder r;
    ReportProgress(RecordingTarget(r), 1000, 4000, 5000, 25000, "Tavrick - clip.avi");
    ASSERT_EQ(r.statuses.size(), 1u);
    EXPECT_EQ(r.statuses[0], "25%, frame 1000 of 4000, 0:00:59 left");  // 20000 / 1001 * 3000 = 59,940 ms
    EXPECT_EQ(r.bars, std::vector<int>{25});
    EXPECT_EQ(r.titles, std::vector<std::string>{"25% done - Tavrick - clip.avi"});
}

TEST(ReportProgress, FinalReportAndEmptyRun) {
    Recorder r;
    ReportProgress(RecordingTarget(r), 777, 777, 0, 123456, "T");
    EXPECT_EQ(r.statuses.back(), "100%, frame 777 of 777, 0:00:00 left");
    EXPECT_EQ(r.titles.back(), "100% done - T");
    // A run without steps ends with (0, 0): shown complete, nothing divides by zero.
    ReportProgress(RecordingTarget(r), 0, 0, 0, 10, "T");
    EXPECT_EQ(r.statuses.back(), "100%, frame 0 of 0, 0:00:00 left");
    EXPECT_EQ(r.bars.back(), 100);
}

TEST(ComputeProgress, TimeLeftFormatAndTickWrap) {
    // index 0 of 2: elapsed / 1 * 2 = remaining.
    ProgressFigures f = ComputeProgress(0, 2, 0, 1862500);
    EXPECT_EQ(f.remainingMs, 3725000u);
    EXPECT_EQ(FormatProgressStatus(0, 2, f), "0%, frame 0 of 2, 1:02:05 left");
    // The tick count wrapped between start and now: still 2,000 ms elapsed.
    f = ComputeProgress(1, 3, 0xFFFFFC18u, 1000u);
    EXPECT_EQ(f.remainingMs, 2000u);  // 2000 / 2 * 2
    EXPECT_EQ(f.percent, 33u);
    // Percent truncates, never rounds.
    EXPECT_EQ(ComputeProgress(199, 200, 0, 0).percent, 99u);
}

TEST(FormatProgressTitle, SavedTitleIsCutAt255Characters) {
    const std::string longTitle(400, 'x');
    const std::string title = FormatProgressTitle({50, 0}, longTitle.c_str());
    EXPECT_EQ(title, "50% done - " + std::string(255, 'x'));
}

}  // namespace
