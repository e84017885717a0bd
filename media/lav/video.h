// The video of a file read through libavformat and libavcodec: every
// picture in display order, placed on a constant grid by its timestamp,
// rotated as the file says and converted to bottom-up BGR rows as the AVI
// services deliver them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/lav/timing.h"

struct LavVideo;

struct LavVideoInfo {
    std::int32_t width = 0, height = 0;  // as delivered, after rotation
    Ratio rate;                          // the grid's frames per second
    bool variable = false;               // the pictures are not evenly spaced
    std::int64_t length = 0;             // grid positions
    std::int64_t pictures = 0;
    int rotation = 0;    // clockwise quarter turns applied, in degrees
    Ratio sampleAspect;  // 0/1: unknown
    std::string container, codec, pixelFormat;
    bool interlaced = false;
    Ratio origin;                      // the first picture's time in the file, in seconds
    std::vector<std::string> streams;  // one line per stream of the file
    int videoStream = -1;              // the file's stream number
};

// Opens the first video stream of `path`. sourceRate (num 0: the stream's
// average) sets the grid. Null with *why when it can't be read.
LavVideo* OpenLavVideo(const char* path, Ratio sourceRate, LavVideoInfo* info, std::string* why);
// The picture of grid position n: width x height BGR, rows padded to 4
// bytes, last row first; null when it can't be decoded.
const std::uint8_t* LavVideoPicture(LavVideo* video, std::int64_t n);
void CloseLavVideo(LavVideo* video);
