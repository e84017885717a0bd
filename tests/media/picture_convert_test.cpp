// The encoders' pictures: frames/' 4:2:0 conversion is taken where it gives
// libswscale's bytes, and whichever converts, the picture is libswscale's.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frames/geometry.h"
#include "media/lav/picture_convert.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

struct Picture {
    AVFrame* frame = av_frame_alloc();
    Picture(int w, int h, AVPixelFormat format) {
        frame->format = format;
        frame->width = w;
        frame->height = h;
        EXPECT_EQ(av_frame_get_buffer(frame, 0), 0);
    }
    ~Picture() { av_frame_free(&frame); }
    // The visible bytes of every plane.
    std::vector<std::uint8_t> Bytes() const {
        std::vector<std::uint8_t> all;
        for (int p = 0; p < 4 && frame->data[p]; ++p) {
            const int rows = p ? AV_CEIL_RSHIFT(frame->height, 1) : frame->height;
            const int columns = p ? AV_CEIL_RSHIFT(frame->width, 1) : frame->width;
            for (int y = 0; y < rows; ++y)
                all.insert(all.end(), frame->data[p] + y * frame->linesize[p],
                           frame->data[p] + y * frame->linesize[p] + columns);
        }
        return all;
    }
};

// Noise, saturated blocks and hard vertical edges (the chroma filter's
// overshoot and clamps), bottom-up as the run holds frames.
std::vector<std::uint8_t> Frame(int w, int h, std::mt19937& rng) {
    std::vector<std::uint8_t> dib(static_cast<std::size_t>(RowStride(w)) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 3 * w; ++x) {
            std::uint8_t& byte = dib[static_cast<std::size_t>(y) * RowStride(w) + x];
            const int band = (y / 3 + x / 48) % 3;
            byte = band == 0   ? static_cast<std::uint8_t>(rng())
                   : band == 1 ? (y % 2 ? 255 : 0)
                               : ((x / 3) % 2 ? 250 : 6);
        }
    return dib;
}

std::vector<std::uint8_t> ByLibswscale(const std::vector<std::uint8_t>& dib, int w, int h, AVPixelFormat format) {
    Picture out(w, h, format);
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_BGR24, w, h, format,
                                     SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    const std::uint8_t* top[1] = {dib.data() + static_cast<std::size_t>(RowStride(w)) * (h - 1)};
    const int strides[1] = {-RowStride(w)};
    sws_scale(sws, top, strides, 0, h, out.frame->data, out.frame->linesize);
    sws_freeContext(sws);
    return out.Bytes();
}

TEST(PictureConvert, OwnConversionWhereItMatchesAndLibswscalesBytesEverywhere) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    struct Case {
        int w, h;
        AVPixelFormat format;
        bool own;
    };
    const Case cases[] = {
        {1920, 1080, AV_PIX_FMT_YUV420P, true}, {34, 16, AV_PIX_FMT_YUV420P, true},
        {722, 578, AV_PIX_FMT_YUV420P, true},   {33, 16, AV_PIX_FMT_YUV420P, false},  // odd width
        {32, 10, AV_PIX_FMT_YUV420P, false},                                          // too few rows
        {64, 48, AV_PIX_FMT_YUVJ420P, false},                                         // full range
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.format);
        PictureConverter converter;
        ASSERT_TRUE(OpenPictureConverter(converter, c.w, c.h, static_cast<std::uint32_t>(RowStride(c.w)), c.format));
        EXPECT_EQ(converter.ownYuv420, c.own);
        Picture picture(c.w, c.h, c.format);
        for (int frame = 0; frame < 2; ++frame) {
            const std::vector<std::uint8_t> dib = Frame(c.w, c.h, rng);
            ConvertPicture(converter, dib.data(), false, picture.frame);
            EXPECT_EQ(picture.Bytes(), ByLibswscale(dib, c.w, c.h, c.format)) << "frame " << frame;
        }
        ClosePictureConverter(converter);
    }
}

}  // namespace
