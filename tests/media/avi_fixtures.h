// Test files for the AVI reader: a small RIFF writer of the tests' own, for
// files whose every byte a test wants to choose, and the ffmpeg tool for files
// from another writer.
#pragma once

#include "media/vfw/vfw.h"

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct FixtureStream {
    uint32_t type = streamtypeVIDEO;
    uint32_t handler = 0;
    uint32_t scale = 1;
    uint32_t rate = 25;
    uint32_t start = 0;
    uint32_t length = 0;  // written as given: tests make headers lie
    uint32_t sampleSize = 0;
    uint32_t suggestedBuffer = 0;
    int16_t frame[4] = {0, 0, 0, 0};
    uint32_t strhSize = 56;  // shorter writes a cut-off stream header
    Bytes format;
    std::string name;
    std::vector<Bytes> chunks;
    std::vector<bool> keys;  // per chunk; missing: key
    const char* suffix = "dc";
};

enum class FixtureIndex { Relative, Absolute, None, OpenDml };

struct FixtureFile {
    std::vector<FixtureStream> streams;
    FixtureIndex index = FixtureIndex::Relative;
    bool recLists = false;  // wrap each round of chunks in a 'rec ' list
    // OpenDML: chunks from this round on go into an 'AVIX' extension form.
    size_t extensionFrom = SIZE_MAX;
    uint32_t width = 0, height = 0;
};

Bytes BuildAvi(const FixtureFile& f);

// A BITMAPINFOHEADER (plus palette bytes) as a strf body.
Bytes BitmapFormat(int32_t width, int32_t height, uint16_t bits, uint32_t compression, const Bytes& palette = {});
Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits, bool withCbSize);

// Deterministic picture bytes: a bottom-up 24-bit DIB of frame n, rows padded.
Bytes RgbPicture(int32_t width, int32_t height, int n);

std::string TempDir();  // one per test process, removed at exit
std::string WriteFile(const std::string& name, const Bytes& data);
Bytes ReadWholeFile(const std::string& path);
// Runs ffmpeg quietly; false when it failed or isn't installed.
bool RunFfmpeg(const std::string& args);
bool HaveFfmpeg();

// ffmpeg's own decoding of the first video stream as top-down BGR24 rows.
Bytes FfmpegBgr(const std::string& path);

// Our frame getter's picture (bottom-up, padded rows) turned into ffmpeg's
// top-down unpadded layout.
Bytes ToTopDownPacked(const uint8_t* pixels, int32_t width, int32_t height);

// Every call a caller makes, on whatever the file holds; returns the statuses
// seen so tests can check they are from the known set.
std::vector<AVIRESULT> ExerciseFile(const std::string& path);
bool IsKnownStatus(AVIRESULT r);
