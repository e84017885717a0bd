// Source files for the access tests, built with the tests' own RIFF writer.
#pragma once

#include <string>

#include "media/media_state.h"
#include "tests/media/avi_fixtures.h"

struct SourceSpec {
    int width = 32;
    int height = 24;
    int frames = 4;
    bool audio = false;
    Bytes audioFormat;  // default: 16-bit stereo PCM at 8000 Hz
    bool video = true;
};

inline SourceSpec Spec(int width, int height, int frames, bool audio = false) {
    SourceSpec s;
    s.width = width;
    s.height = height;
    s.frames = frames;
    s.audio = audio;
    return s;
}

// Writes an uncompressed source file into the test folder and returns its path.
std::string MakeSource(const std::string& name, const SourceSpec& spec);
