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

// A 16x8 source of `frames` frames at rate/scale with mono PCM audio of
// `samples` samples at sampleRate, where every sample holds its own index
// (16-bit, or its low byte at 8 bits), so a skipped or repeated sample shows.
std::string MakeCountingSource(const std::string& name, int frames, std::uint32_t rate, std::uint32_t scale,
                               std::uint32_t sampleRate, int samples, int bits = 16);
// The audio MakeCountingSource wrote.
Bytes CountingAudio(int samples, int bits = 16);

// Every picture of the first video stream (bottom-up padded rows).
std::vector<Bytes> ReadPictures(const std::string& path);
// Every byte of the first audio stream; empty without one.
Bytes ReadAudio(const std::string& path);
int StreamCount(const std::string& path);
