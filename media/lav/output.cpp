#include "media/lav/output.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "media/lav/picture_convert.h"
#include "media/vfw/compressor.h"

struct LavOutput {
    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVStream* videoStream = nullptr;
    PictureConverter convert;
    AVFrame* picture = nullptr;
    std::int64_t framesSent = 0;
    AVCodecContext* audio = nullptr;
    AVStream* audioStream = nullptr;
    SwrContext* resample = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* sound = nullptr;
    std::int64_t samplesSent = 0;
    int inputRate = 0, inputChannels = 0;
    AVPacket* packet = nullptr;
    bool headerWritten = false, finished = false;
    std::string failure;
};

namespace {

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

bool Fail(LavOutput* o, const std::string& why) {
    if (o->failure.empty()) o->failure = why;
    return false;
}

// Every packet the encoder has ready goes to the muxer, on the stream's own clock.
bool Drain(LavOutput* o, AVCodecContext* encoder, AVStream* stream) {
    for (;;) {
        const int got = avcodec_receive_packet(encoder, o->packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
        if (got < 0) return Fail(o, "the encoder failed: " + ErrorText(got));
        av_packet_rescale_ts(o->packet, encoder->time_base, stream->time_base);
        o->packet->stream_index = stream->index;
        const int written = av_interleaved_write_frame(o->format, o->packet);
        if (written < 0) return Fail(o, ErrorText(written));
    }
}

bool Send(LavOutput* o, AVCodecContext* encoder, AVStream* stream, const AVFrame* frame) {
    const int sent = avcodec_send_frame(encoder, frame);
    if (sent < 0 && sent != AVERROR_EOF) return Fail(o, "the encoder refused a frame: " + ErrorText(sent));
    return Drain(o, encoder, stream);
}

// The quality setting (0..10000, 10000 best) on each encoder's own scale.
void SetQuality(AVCodecContext* c, AVDictionary** opts, const char* encoder, std::uint32_t quality) {
    const double worse = (10000.0 - quality) / 10000.0;  // 0 best .. 1 worst
    char value[16];
    if (!std::strcmp(encoder, "libx264") || !std::strcmp(encoder, "libx265")) {
        av_dict_set(opts, "crf", CrfOfQuality(quality).c_str(), 0);
    } else if (!std::strcmp(encoder, "libvpx-vp9") || !std::strcmp(encoder, "libsvtav1")) {
        std::snprintf(value, sizeof value, "%d", std::max(1, static_cast<int>(63.0 * worse + 0.5)));
        av_dict_set(opts, "crf", value, 0);
        c->bit_rate = 0;
    } else {
        // Quantiser encoders (MPEG-4, Motion JPEG, ProRes): 10000 is 2, 0 is 31.
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * QuantiserOfQuality(quality);
    }
}

bool OpenVideo(LavOutput* o, const LavOutputSetup& s, std::string* why) {
    OutputEncoder e;
    const AVCodec* codec = FindOutputEncoder(s.fccHandler, &e) ? avcodec_find_encoder_by_name(e.encoder) : nullptr;
    if (!codec) return *why = "no encoder for this compressor here", false;
    AVCodecContext* c = o->video = avcodec_alloc_context3(codec);
    if (!c) return *why = "out of memory", false;
    c->width = s.width;
    c->height = s.height;
    c->pix_fmt = static_cast<AVPixelFormat>(e.pixelFormat);
    c->time_base = AVRational{static_cast<int>(s.rateDen), static_cast<int>(s.rateNum)};
    c->framerate = AVRational{static_cast<int>(s.rateNum), static_cast<int>(s.rateDen)};
    c->thread_count = 0;
    if (s.keyFrameEvery > 0) c->gop_size = static_cast<int>(std::min<std::uint32_t>(s.keyFrameEvery, 1u << 30));
    AVDictionary* opts = nullptr;
    if (s.bytesPerSecond > 0)
        c->bit_rate = std::int64_t{s.bytesPerSecond} * 8;
    else
        SetQuality(c, &opts, e.encoder, s.quality <= 10000 ? s.quality : 7500);
    if (!std::strcmp(e.encoder, "libx264") || !std::strcmp(e.encoder, "libx265"))
        av_dict_set(&opts, "preset", s.preset.empty() ? "medium" : s.preset.c_str(), 0);
    if (!std::strcmp(e.encoder, "libx265")) av_dict_set(&opts, "x265-params", "log-level=error", 0);
    if (!std::strcmp(e.encoder, "libvpx-vp9")) av_dict_set(&opts, "row-mt", "1", 0);
    if (!std::strcmp(e.encoder, "prores_ks")) av_dict_set(&opts, "profile", "standard", 0);  // apcn
    if (o->format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int opened = avcodec_open2(c, codec, &opts);
    av_dict_free(&opts);
    if (opened < 0) {
        char text[200];
        std::snprintf(text, sizeof text, "the %s encoder refused %dx%d frames: %s", e.encoder, s.width, s.height,
                      ErrorText(opened).c_str());
        return *why = text, false;
    }
    o->videoStream = avformat_new_stream(o->format, nullptr);
    if (!o->videoStream || avcodec_parameters_from_context(o->videoStream->codecpar, c) < 0)
        return *why = "out of memory", false;
    o->videoStream->time_base = c->time_base;
    o->videoStream->avg_frame_rate = c->framerate;
    o->picture = av_frame_alloc();
    if (!o->picture) return *why = "out of memory", false;
    o->picture->format = c->pix_fmt;
    o->picture->width = s.width;
    o->picture->height = s.height;
    if (av_frame_get_buffer(o->picture, 0) < 0 ||
        !OpenPictureConverter(o->convert, s.width, s.height, s.stride, c->pix_fmt))
        return *why = "out of memory", false;
    return true;
}

bool OpenAudio(LavOutput* o, const LavOutputSetup& s, std::string* why) {
    const AVCodec* codec = avcodec_find_encoder_by_name(AudioCodecName(s.audio));
    if (!codec) return *why = std::string("no ") + AudioCodecName(s.audio) + " encoder here", false;
    AVCodecContext* c = o->audio = avcodec_alloc_context3(codec);
    if (!c) return *why = "out of memory", false;
    av_channel_layout_default(&c->ch_layout, s.channels);
    // The first sample format and, where the rate isn't taken, the nearest
    // the encoder has (Opus runs at 48 kHz).
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    if (s.audio == AudioCodec::flac || s.audio == AudioCodec::pcm) c->sample_fmt = AV_SAMPLE_FMT_S16;
    c->sample_rate = s.sampleRate;
    if (codec->supported_samplerates) {
        int best = codec->supported_samplerates[0];
        for (const int* r = codec->supported_samplerates; *r; ++r) {
            if (*r == s.sampleRate) {
                best = *r;
                break;
            }
            if (*r == 48000) best = *r;
        }
        c->sample_rate = best;
    }
    c->time_base = AVRational{1, c->sample_rate};
    if (s.audio == AudioCodec::aac || s.audio == AudioCodec::opus)
        c->bit_rate = 64000 * std::min(s.channels, 2) + 32000 * std::max(0, s.channels - 2);
    if (o->format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int opened = avcodec_open2(c, codec, nullptr);
    if (opened < 0)
        return *why = std::string("the ") + codec->name + " encoder refused the sound: " + ErrorText(opened), false;
    o->audioStream = avformat_new_stream(o->format, nullptr);
    if (!o->audioStream || avcodec_parameters_from_context(o->audioStream->codecpar, c) < 0)
        return *why = "out of memory", false;
    o->audioStream->time_base = c->time_base;
    AVChannelLayout in{};
    av_channel_layout_default(&in, s.channels);
    const int made = swr_alloc_set_opts2(&o->resample, &c->ch_layout, c->sample_fmt, c->sample_rate, &in,
                                         AV_SAMPLE_FMT_S16, s.sampleRate, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (made < 0 || swr_init(o->resample) < 0) return *why = "the sound can't be converted for the encoder", false;
    o->fifo = av_audio_fifo_alloc(c->sample_fmt, s.channels, 4096);
    o->sound = av_frame_alloc();
    if (!o->fifo || !o->sound) return *why = "out of memory", false;
    o->inputRate = s.sampleRate;
    o->inputChannels = s.channels;
    return true;
}

// Encodes whole frames from the queue; at the end (flush) the rest too.
bool EncodeQueued(LavOutput* o, bool flush) {
    AVCodecContext* c = o->audio;
    const int frameSize = c->frame_size > 0 ? c->frame_size : 1024;
    while (av_audio_fifo_size(o->fifo) >= frameSize || (flush && av_audio_fifo_size(o->fifo) > 0)) {
        const int n = std::min(frameSize, av_audio_fifo_size(o->fifo));
        av_frame_unref(o->sound);
        o->sound->nb_samples = n;
        o->sound->format = c->sample_fmt;
        o->sound->sample_rate = c->sample_rate;
        av_channel_layout_copy(&o->sound->ch_layout, &c->ch_layout);
        if (av_frame_get_buffer(o->sound, 0) < 0) return Fail(o, "out of memory");
        av_audio_fifo_read(o->fifo, reinterpret_cast<void**>(o->sound->data), n);
        o->sound->pts = o->samplesSent;
        o->samplesSent += n;
        if (!Send(o, c, o->audioStream, o->sound)) return false;
    }
    return true;
}

// Converts `count` input samples (null: what the resampler still holds) into the queue.
bool Queue(LavOutput* o, const std::uint8_t* samples, int count) {
    const int room = swr_get_out_samples(o->resample, count);
    if (room <= 0) return true;
    std::uint8_t** planes = nullptr;
    if (av_samples_alloc_array_and_samples(&planes, nullptr, o->inputChannels, room, o->audio->sample_fmt, 0) < 0)
        return Fail(o, "out of memory");
    const std::uint8_t* in[1] = {samples};
    const int got = swr_convert(o->resample, planes, room, samples ? in : nullptr, count);
    bool ok = got >= 0 || Fail(o, "the sound can't be converted for the encoder");
    if (ok && got > 0 && av_audio_fifo_write(o->fifo, reinterpret_cast<void**>(planes), got) < got)
        ok = Fail(o, "out of memory");
    av_freep(&planes[0]);
    av_freep(&planes);
    return ok;
}

}  // namespace

LavOutput* CreateLavOutput(const LavOutputSetup& s, std::string* why) {
    LavOutput* o = new (std::nothrow) LavOutput;
    if (!o) return *why = "out of memory", nullptr;
    const auto fail = [&](const std::string& text) -> LavOutput* {
        *why = text;
        CloseLavOutput(o);
        return nullptr;
    };
    const char* muxer = s.container == OutputContainer::mkv    ? "matroska"
                        : s.container == OutputContainer::webm ? "webm"
                        : s.container == OutputContainer::mov  ? "mov"
                                                               : "mp4";
    if (avformat_alloc_output_context2(&o->format, nullptr, muxer, s.path) < 0 || !o->format)
        return fail("no muxer for this container");
    o->packet = av_packet_alloc();
    if (!o->packet) return fail("out of memory");
    std::string reason;
    if (!OpenVideo(o, s, &reason)) return fail(reason);
    if (s.audio != AudioCodec::none && !OpenAudio(o, s, &reason)) return fail(reason);
    const int opened = avio_open(&o->format->pb, s.path, AVIO_FLAG_WRITE);
    if (opened < 0) return fail(std::string(s.path) + ": " + ErrorText(opened));
    AVDictionary* opts = nullptr;
    // The index at the front, so players start before the whole file is read.
    if (s.container == OutputContainer::mp4 || s.container == OutputContainer::mov)
        av_dict_set(&opts, "movflags", "+faststart", 0);
    const int header = avformat_write_header(o->format, &opts);
    av_dict_free(&opts);
    if (header < 0) return fail("the container refused the streams: " + ErrorText(header));
    o->headerWritten = true;
    return o;
}

bool WriteLavFrame(LavOutput* o, const std::uint8_t* frame, bool key, bool repeat) {
    if (!o->failure.empty()) return false;
    if (av_frame_make_writable(o->picture) < 0) return Fail(o, "out of memory");
    ConvertPicture(o->convert, frame, repeat, o->picture);
    o->picture->pts = o->framesSent++;
    o->picture->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    return Send(o, o->video, o->videoStream, o->picture);
}

bool WriteLavAudio(LavOutput* o, const std::uint8_t* samples, std::int64_t count) {
    if (!o->failure.empty()) return false;
    if (!o->audio) return true;
    while (count > 0) {
        const int n = static_cast<int>(std::min<std::int64_t>(count, 1 << 16));
        if (!Queue(o, samples, n) || !EncodeQueued(o, false)) return false;
        samples += std::size_t{2} * o->inputChannels * n;
        count -= n;
    }
    return true;
}

bool FinishLavOutput(LavOutput* o) {
    if (o->finished) return o->failure.empty();
    o->finished = true;
    if (!o->failure.empty()) return false;
    if (!Send(o, o->video, o->videoStream, nullptr)) return false;
    if (o->audio && (!Queue(o, nullptr, 0) || !EncodeQueued(o, true) || !Send(o, o->audio, o->audioStream, nullptr)))
        return false;
    const int trailer = av_write_trailer(o->format);
    if (trailer < 0) return Fail(o, "the index couldn't be written: " + ErrorText(trailer));
    const int closed = avio_closep(&o->format->pb);
    if (closed < 0) return Fail(o, ErrorText(closed));
    return true;
}

const char* LavOutputFailure(const LavOutput* o) { return o ? o->failure.c_str() : ""; }

// An encoder is told the end before it is freed, even when nothing will be
// written: SVT-AV1 never returns from a close without it.
static void EndUnwritten(AVCodecContext* encoder, AVPacket* packet) {
    if (!encoder || !avcodec_is_open(encoder) || avcodec_send_frame(encoder, nullptr) < 0) return;
    while (packet && avcodec_receive_packet(encoder, packet) >= 0) av_packet_unref(packet);
}

void CloseLavOutput(LavOutput*& o) {
    if (!o) return;
    // A run that stopped early leaves a file that plays to where it stopped.
    if (!o->finished && o->headerWritten) FinishLavOutput(o);
    if (!o->failure.empty() || !o->headerWritten) {
        EndUnwritten(o->video, o->packet);
        EndUnwritten(o->audio, o->packet);
    }
    avcodec_free_context(&o->video);
    avcodec_free_context(&o->audio);
    ClosePictureConverter(o->convert);
    swr_free(&o->resample);
    if (o->fifo) av_audio_fifo_free(o->fifo);
    av_frame_free(&o->picture);
    av_frame_free(&o->sound);
    av_packet_free(&o->packet);
    if (o->format) {
        if (o->format->pb) avio_closep(&o->format->pb);
        avformat_free_context(o->format);
    }
    delete o;
    o = nullptr;
}
