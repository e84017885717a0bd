// The run's BGR frames to the encoder's picture format: libswscale's
// accurate bicubic conversion, or, for 4:2:0 pictures, frames/'s own
// conversion once it has given the same bytes as libswscale on a test
// picture of the run's size. A frame that repeats the last one (a held
// source frame) keeps the picture converted for that one.
#pragma once

#include <cstdint>

#include "frames/yuv420.h"

extern "C" {
struct AVFrame;
struct SwsContext;
}

struct PictureConverter {
    SwsContext* sws = nullptr;
    bool ownYuv420 = false;  // frames/' conversion proved equal
    Yuv420Scratch scratch;
    int width = 0, height = 0;
    std::uint32_t stride = 0;  // of the BGR rows, stored last first
    bool converted = false;    // a frame has been converted since the open
};

// For pictures of `pixelFormat` (an AVPixelFormat). False when out of memory.
bool OpenPictureConverter(PictureConverter& c, int width, int height, std::uint32_t stride, int pixelFormat);
// Fills `picture` (writable, of the format opened for) from a frame; when
// `repeat` says the frame has the bytes of the last one, `picture` already
// holds its conversion and is left as it is.
void ConvertPicture(PictureConverter& c, const std::uint8_t* frame, bool repeat, AVFrame* picture);
void ClosePictureConverter(PictureConverter& c);
