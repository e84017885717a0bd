#include "media/lav/picture_convert.h"

#include <cstring>
#include <new>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int swsFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;

void SwsConvert(PictureConverter& c, const std::uint8_t* frame, AVFrame* picture) {
    // Rows are stored last first: start at the top row and step back.
    const std::uint8_t* top[1] = {frame + std::size_t{c.stride} * static_cast<std::size_t>(c.height - 1)};
    const int strides[1] = {-static_cast<int>(c.stride)};
    sws_scale(c.sws, top, strides, 0, c.height, picture->data, picture->linesize);
}

void OwnConvert(PictureConverter& c, const std::uint8_t* frame, AVFrame* picture) {
    Yuv420FromBgr(BottomUpPicture(frame, c.width, c.height, static_cast<int>(c.stride)), picture->data,
                  picture->linesize, c.scratch);
}

bool SamePlanes(const AVFrame* a, const AVFrame* b, int width, int height) {
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? width / 2 : width, h = plane ? height / 2 : height;
        for (int y = 0; y < h; ++y)
            if (std::memcmp(a->data[plane] + static_cast<std::ptrdiff_t>(y) * a->linesize[plane],
                            b->data[plane] + static_cast<std::ptrdiff_t>(y) * b->linesize[plane], w) != 0)
                return false;
    }
    return true;
}

AVFrame* Yuv420Picture(int width, int height) {
    AVFrame* f = av_frame_alloc();
    if (!f) return nullptr;
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width;
    f->height = height;
    if (av_frame_get_buffer(f, 0) < 0) av_frame_free(&f);
    return f;
}

// Both conversions of one test picture of the run's size: noise (every
// row's filter and the clamps at both ends are reached) with saturated
// colours scattered over it.
bool OwnConversionMatches(PictureConverter& c) {
    std::vector<std::uint8_t> test;
    try {
        test.resize(std::size_t{c.stride} * static_cast<std::size_t>(c.height));
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::uint32_t state = 0x9E3779B9u;
    for (std::uint8_t& byte : test) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
        if ((state & 0xF00u) == 0) byte = (state & 0x1000u) ? 255 : 0;
    }
    AVFrame* theirs = Yuv420Picture(c.width, c.height);
    AVFrame* ours = Yuv420Picture(c.width, c.height);
    bool same = false;
    if (theirs && ours) {
        SwsConvert(c, test.data(), theirs);
        OwnConvert(c, test.data(), ours);
        same = SamePlanes(theirs, ours, c.width, c.height);
    }
    av_frame_free(&theirs);
    av_frame_free(&ours);
    return same;
}

}  // namespace

bool OpenPictureConverter(PictureConverter& c, int width, int height, std::uint32_t stride, int pixelFormat) {
    c.width = width;
    c.height = height;
    c.stride = stride;
    c.converted = false;
    c.sws = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, static_cast<AVPixelFormat>(pixelFormat),
                           swsFlags, nullptr, nullptr, nullptr);
    if (!c.sws) return false;
    c.ownYuv420 = pixelFormat == AV_PIX_FMT_YUV420P && Yuv420Fits(width, height) && OwnConversionMatches(c);
    return true;
}

void ConvertPicture(PictureConverter& c, const std::uint8_t* frame, bool repeat, AVFrame* picture) {
    if (repeat && c.converted) return;
    if (c.ownYuv420)
        OwnConvert(c, frame, picture);
    else
        SwsConvert(c, frame, picture);
    c.converted = true;
}

void ClosePictureConverter(PictureConverter& c) {
    sws_freeContext(c.sws);
    c.sws = nullptr;
    c.converted = false;
}
