// A conversion run bound to test records: an open source, recorded message
// boxes and progress, the run's settings, and readers for what was written.
#pragma once

#include <string>
#include <vector>

#include "job/conversion.h"
#include "platform/msgbox.h"
#include "tests/media/media_fixtures.h"

const KernelTables& TestTables();

struct ProgressLog {
    std::vector<std::string> statuses;
    std::vector<int> bars;
};

struct TestRun {
    ConversionSettings settings = DefaultSettings();
    MediaState media;
    ConversionJob job;
    JobControl control;
    ConversionRun run;
    ProgressLog progress;
    MessageBoxRecorder boxes;

    // Opens source; progressive, uncompressed, no resizing, 25 fps out.
    explicit TestRun(const std::string& source, const std::string& destination);
    ~TestRun();
    RunResult Run() { return RunConversion(run); }
    std::vector<std::string> Texts();  // every message box shown, in order
};

// Every picture of the first video stream (bottom-up padded rows).
std::vector<Bytes> ReadPictures(const std::string& path);
// Every byte of the first audio stream; empty without one.
Bytes ReadAudio(const std::string& path);
int StreamCount(const std::string& path);
