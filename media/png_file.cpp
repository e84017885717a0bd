#include "media/png_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include "media/vfw/ffmpeg_log.h"

namespace {

std::string AvText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Owners of what the encoder hands out, released on every way out.
struct Encoding {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    ~Encoding() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

}  // namespace

bool WritePng(const std::string& path, const std::uint8_t* rgb, int width, int height, std::string& error) {
    QuietFfmpegLog();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) {
        error = "this FFmpeg has no PNG encoder";
        return false;
    }
    Encoding e;
    e.context = avcodec_alloc_context3(codec);
    e.frame = av_frame_alloc();
    e.packet = av_packet_alloc();
    if (!e.context || !e.frame || !e.packet) {
        error = "out of memory";
        return false;
    }
    e.context->width = width;
    e.context->height = height;
    e.context->pix_fmt = AV_PIX_FMT_RGB24;
    e.context->time_base = AVRational{1, 1};
    int r = avcodec_open2(e.context, codec, nullptr);
    if (r < 0) {
        error = "the PNG encoder refused " + std::to_string(width) + "x" + std::to_string(height) + ": " + AvText(r);
        return false;
    }
    e.frame->format = AV_PIX_FMT_RGB24;
    e.frame->width = width;
    e.frame->height = height;
    // The frame borrows the caller's rows; the encoder only reads them.
    e.frame->data[0] = const_cast<std::uint8_t*>(rgb);
    e.frame->linesize[0] = 3 * width;
    if ((r = avcodec_send_frame(e.context, e.frame)) < 0 || (r = avcodec_receive_packet(e.context, e.packet)) < 0) {
        error = "the PNG encoder failed: " + AvText(r);
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(e.packet->data, 1, static_cast<std::size_t>(e.packet->size), file) ==
                         static_cast<std::size_t>(e.packet->size);
    const int savedErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        error = path + ": " + std::strerror(written ? errno : savedErrno);
        return false;
    }
    return true;
}
