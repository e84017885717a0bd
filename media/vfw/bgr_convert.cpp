#include "media/vfw/bgr_convert.h"

#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

static_assert(sizeof(AVColorSpace) == sizeof(int) && sizeof(AVColorRange) == sizeof(int));

bool BgrConvertible(const AVFrame* f) {
    const auto format = static_cast<AVPixelFormat>(f->format);
    return av_pix_fmt_desc_get(format) && sws_isSupportedInput(format) && f->width > 0 && f->height > 0;
}

bool ConvertToBgr(BgrConverter& c, const AVFrame* f, std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                  std::uint32_t stride, bool topDown) {
    if (!BgrConvertible(f)) return false;
    const auto format = static_cast<AVPixelFormat>(f->format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    SwsContext* before = c.sws;
    c.sws = sws_getCachedContext(c.sws, f->width, f->height, format, width, height, AV_PIX_FMT_BGR24, SWS_BICUBIC,
                                 nullptr, nullptr, nullptr);
    if (!c.sws) return false;
    if (c.sws != before) c.colorspace = c.range = -1;  // a new context starts from the defaults
    // Decoders copy these from the bitstream unchecked; read them as plain
    // numbers, since a value outside the enumeration is not a valid enum.
    int space, range;
    std::memcpy(&space, &f->colorspace, sizeof space);
    std::memcpy(&range, &f->color_range, sizeof range);
    if (space < 0 || space == AVCOL_SPC_UNSPECIFIED || space >= AVCOL_SPC_NB) space = SWS_CS_DEFAULT;
    if (!(desc->flags & AV_PIX_FMT_FLAG_RGB) && (space != c.colorspace || range != c.range)) {
        int *invTable, *table, srcRange, dstRange, brightness, contrast, saturation;
        if (sws_getColorspaceDetails(c.sws, &invTable, &srcRange, &table, &dstRange, &brightness, &contrast,
                                     &saturation) >= 0) {
            if (range == AVCOL_RANGE_JPEG) srcRange = 1;
            sws_setColorspaceDetails(c.sws, sws_getCoefficients(space), srcRange, table, dstRange, brightness, contrast,
                                     saturation);
        }
        c.colorspace = space;
        c.range = range;
    }
    // libswscale's fast paths write whole groups of 8 or 16 pixels and drop a
    // narrower picture's last columns when its rows have no room to spare, so
    // such pictures go through a roomier buffer first.
    const bool direct = width % 16 == 0;
    const size_t rowBytes = size_t{3} * width;
    uint8_t* dst[4] = {pixels, nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(stride), 0, 0, 0};
    if (!direct) {
        const size_t roomy = ((rowBytes + 3 * 32) + 63) & ~size_t{63};
        c.roomy.resize(roomy * height + 64);
        dst[0] = c.roomy.data();
        dstStride[0] = static_cast<int>(roomy);
    } else if (!topDown) {
        // Bottom-up: the last row first, walking backwards.
        dst[0] = pixels + size_t{stride} * (height - 1);
        dstStride[0] = -static_cast<int>(stride);
    }
    if (sws_scale(c.sws, f->data, f->linesize, 0, f->height, dst, dstStride) != height) return false;
    if (!direct) {
        for (int32_t row = 0; row < height; ++row) {
            const int32_t to = topDown ? row : height - 1 - row;
            std::memcpy(pixels + size_t{stride} * to, dst[0] + size_t(dstStride[0]) * row, rowBytes);
        }
    }
    return true;
}

void FreeBgrConverter(BgrConverter& c) {
    sws_freeContext(c.sws);
    c.sws = nullptr;
    c.colorspace = c.range = -1;
}
