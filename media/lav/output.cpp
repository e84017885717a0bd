#include "media/lav/output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

#include "media/lav/audio_packets.h"
#include "media/lav/picture_convert.h"
#include "media/vfw/compressor.h"
#include "media/vfw/ffmpeg_log.h"

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
    // Sound carried as stored: the packet that plays after the frames so far waits in `held`.
    LavAudioPackets* copied = nullptr;
    AVPacket* held = nullptr;
    bool copyEnded = false;
    std::int64_t lastDts = INT64_MIN;
    int pcmBlock = 0;  // bytes a sample of all channels, when the stored sound is PCM
    std::uint8_t pcmSilence = 0;
    std::int64_t pcmNext = 0;     // the sample after the last one carried
    std::int64_t heldSample = 0;  // where the held PCM packet's first sample plays
    // Whether a packet before the first picture that only primes the decoder
    // is kept: MP4 and MOV skip its sound by their edit list, Matroska would play it.
    bool keepsPriming = false;
    std::string audioName, containerName;
    std::uint32_t rateNum = 0, rateDen = 1;
    AVPacket* packet = nullptr;
    bool headerWritten = false, finished = false;
    std::string failure;
    int lockFd = -1;  // holds the file's exclusive lock while it is written
    std::string path;
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
    if (s.sampleAspectNum > 0 && s.sampleAspectDen > 0)
        c->sample_aspect_ratio = AVRational{s.sampleAspectNum, s.sampleAspectDen};
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
    o->videoStream->sample_aspect_ratio = c->sample_aspect_ratio;
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

const char* MuxerOf(OutputContainer container) {
    return container == OutputContainer::mkv    ? "matroska"
           : container == OutputContainer::webm ? "webm"
           : container == OutputContainer::mov  ? "mov"
                                                : "mp4";
}

// A stream for sound carried as stored: the source's codec parameters, no
// tag of the source's container.
AVStream* NewCopiedStream(AVFormatContext* format, const LavAudioPackets* packets) {
    AVStream* stream = avformat_new_stream(format, nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, LavAudioPacketsCodec(packets)) < 0) return nullptr;
    stream->codecpar->codec_tag = 0;
    if (stream->codecpar->sample_rate > 0) stream->time_base = AVRational{1, stream->codecpar->sample_rate};
    return stream;
}

bool OpenCopiedAudio(LavOutput* o, const LavOutputSetup& s, std::string* why) {
    o->audioStream = NewCopiedStream(o->format, o->copied);
    o->held = av_packet_alloc();
    if (!o->audioStream || !o->held) return *why = "out of memory", false;
    const AVCodecParameters* par = o->audioStream->codecpar;
    // Sound stored as plain samples is cut to the sample; other codecs go by whole packets.
    if (IsPlainPcm(par->codec_id) && par->ch_layout.nb_channels > 0 && par->sample_rate > 0) {
        o->pcmBlock = av_get_bits_per_sample(par->codec_id) / 8 * par->ch_layout.nb_channels;
        o->pcmSilence = par->codec_id == AV_CODEC_ID_PCM_U8 ? 0x80 : 0;
    }
    o->audioName = s.audioName.empty() ? avcodec_get_name(par->codec_id) : s.audioName;
    return true;
}

using Wide = __int128;

// The end of the frames written so far, in seconds x rateNum.
Wide VideoEndNum(const LavOutput* o) { return Wide{o->framesSent} * o->rateDen; }

// Sample n of the carried PCM in ticks of the audio stream, rounded.
std::int64_t SampleTicks(const LavOutput* o, std::int64_t n) {
    const AVRational tb = o->audioStream->time_base;
    const Wide num = Wide{n} * tb.den, den = Wide{o->audioStream->codecpar->sample_rate} * tb.num;
    return static_cast<std::int64_t>((2 * num + (num >= 0 ? den : -den)) / (2 * den));
}

// The sample that ticks t of the audio stream falls on, rounded.
std::int64_t TicksSample(const LavOutput* o, std::int64_t t) {
    const AVRational tb = o->audioStream->time_base;
    const Wide num = Wide{t} * tb.num * o->audioStream->codecpar->sample_rate, den = tb.den;
    return static_cast<std::int64_t>((2 * num + (num >= 0 ? den : -den)) / (2 * den));
}

bool WriteCopied(LavOutput* o, AVPacket* packet) {
    // Times must grow; a source whose stored times step back keeps its order.
    if (packet->dts <= o->lastDts) packet->dts = o->lastDts + 1;
    if (packet->pts < packet->dts) packet->pts = packet->dts;
    o->lastDts = packet->dts;
    packet->stream_index = o->audioStream->index;
    const double at = static_cast<double>(packet->pts) * av_q2d(o->audioStream->time_base);
    FfmpegComplaint complaint;
    const int written = av_interleaved_write_frame(o->format, packet);
    if (written >= 0) return true;
    char text[96];
    std::snprintf(text, sizeof text, " at %.3f s: ", at);
    return Fail(o, "the " + o->containerName + " container took no more of the " + o->audioName +
                       " audio carried as stored" + text +
                       (complaint.text.empty() ? ErrorText(written) : complaint.text));
}

// Silence from the carried PCM's end up to sample `to`.
bool PadPcm(LavOutput* o, std::int64_t to) {
    while (o->pcmNext < to) {
        const int n = static_cast<int>(std::min<std::int64_t>(to - o->pcmNext, 4096));
        AVPacket* silence = o->packet;
        if (av_new_packet(silence, n * o->pcmBlock) < 0) return Fail(o, "out of memory");
        std::memset(silence->data, o->pcmSilence, static_cast<std::size_t>(n) * o->pcmBlock);
        silence->pts = silence->dts = SampleTicks(o, o->pcmNext);
        silence->duration = SampleTicks(o, o->pcmNext + n) - silence->pts;
        silence->flags = AV_PKT_FLAG_KEY;
        o->pcmNext += n;
        if (!WriteCopied(o, silence)) return false;
    }
    return true;
}

// The held PCM packet's samples that play before sample `end`, continuing
// the sound carried so far; what plays later stays held. A packet is cut at
// the end only when it is the video's last (`last`), so the sound keeps the
// source's packets whole. *done: nothing of it is left.
bool CarryPcm(LavOutput* o, std::int64_t end, bool last, bool* done) {
    AVPacket* p = o->held;
    const std::int64_t count = p->size / o->pcmBlock;
    *done = false;
    if (o->heldSample >= end || (!last && o->heldSample + count > end)) return true;
    if (o->heldSample > o->pcmNext && !PadPcm(o, o->heldSample)) return false;
    // What overlaps the sound already carried, or plays before the video, is cut.
    const std::int64_t skip = std::clamp<std::int64_t>(o->pcmNext - o->heldSample, 0, count);
    const std::int64_t keep = std::clamp<std::int64_t>(end - (o->heldSample + skip), 0, count - skip);
    if (keep > 0) {
        AVPacket* part = o->packet;
        if (av_packet_ref(part, p) < 0) return Fail(o, "out of memory");
        part->data += skip * o->pcmBlock;
        part->size = static_cast<int>(keep * o->pcmBlock);
        part->pts = part->dts = SampleTicks(o, o->pcmNext);
        part->duration = SampleTicks(o, o->pcmNext + keep) - part->pts;
        o->pcmNext += keep;
        if (!WriteCopied(o, part)) return false;
    }
    const std::int64_t used = skip + keep;
    if (used == count) {
        av_packet_unref(p);
        *done = true;
        return true;
    }
    p->data += used * o->pcmBlock;
    p->size -= static_cast<int>(used * o->pcmBlock);
    o->heldSample += used;
    return true;
}

// Carries what plays up to the end of the frames written so far; `last`:
// there will be no more.
bool CarryAudio(LavOutput* o, bool last) {
    if (!o->failure.empty()) return false;
    if (!o->copied) return true;
    const AVRational tb = o->audioStream->time_base;
    // The frames so far end at framesSent x rateDen / rateNum seconds.
    const Wide endNum = VideoEndNum(o) * tb.den, endDen = Wide{o->rateNum} * tb.num;  // in ticks
    const std::int64_t endSample =
        o->pcmBlock ? static_cast<std::int64_t>(VideoEndNum(o) * o->audioStream->codecpar->sample_rate / o->rateNum)
                    : 0;
    for (;;) {
        if (!o->held->data && !o->copyEnded) {
            if (!NextLavAudioPacket(o->copied, Ratio{tb.num, tb.den}, o->held)) {
                o->copyEnded = true;
                break;
            }
            if (o->pcmBlock) {
                o->heldSample = TicksSample(o, o->held->pts);
                // Times within 5 ms of where the sound has got keep it
                // continuous, as decoded sound is placed.
                const std::int64_t slack = o->audioStream->codecpar->sample_rate / 200;
                if (o->pcmNext > 0 && std::abs(o->heldSample - o->pcmNext) <= slack) o->heldSample = o->pcmNext;
            }
        }
        if (!o->held->data) break;
        if (o->pcmBlock) {
            bool done = false;
            if (!CarryPcm(o, endSample, last, &done)) return false;
            if (!done) break;
            continue;
        }
        AVPacket* p = o->held;
        // A packet plays with the video when its middle lies before the video's end
        // and it ends after the first picture (or primes the decoder for it).
        if ((2 * Wide{p->pts} + p->duration) * endDen >= 2 * endNum) break;
        if (p->pts + p->duration <= 0 && !(o->keepsPriming && (p->flags & AV_PKT_FLAG_DISCARD))) {
            av_packet_unref(p);
            continue;
        }
        if (!WriteCopied(o, p)) return false;
    }
    return !o->pcmBlock || !o->copyEnded || PadPcm(o, endSample);
}

}  // namespace

bool LavOutputCopiesAudio(const LavOutput* o) { return o && o->copied; }

bool CopyLavAudio(LavOutput* o) { return CarryAudio(o, false); }

std::string CopiedAudioRefusal(OutputContainer container, const LavAudioPackets* packets) {
    AVFormatContext* format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, MuxerOf(container), nullptr) < 0 || !format)
        return "no muxer for this container";
    std::string refusal;
    FfmpegComplaint complaint;
    if (!NewCopiedStream(format, packets) || avio_open_dyn_buf(&format->pb) < 0) {
        refusal = "out of memory";
    } else {
        const int header = avformat_write_header(format, nullptr);
        if (header < 0) refusal = complaint.text.empty() ? ErrorText(header) : complaint.text;
        std::uint8_t* bytes = nullptr;
        avio_close_dyn_buf(format->pb, &bytes);
        av_free(bytes);
        format->pb = nullptr;
    }
    avformat_free_context(format);
    return refusal;
}

namespace {

// The destination held alone, as the AVI writer holds its own: created if
// need be, emptied only once no other run reads or writes it. -1 with *why.
int LockDestination(const char* path, std::string* why) {
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return *why = std::string(path) + ": " + std::strerror(errno), -1;
    struct stat st {};
    const char* refusal = nullptr;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        refusal = "not a file that can be written";
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        refusal = errno == EWOULDBLOCK ? "open in another run" : std::strerror(errno);
    else if (ftruncate(fd, 0) != 0)
        refusal = std::strerror(errno);
    if (!refusal) return fd;
    close(fd);
    *why = std::string(path) + ": " + refusal;
    return -1;
}

}  // namespace

LavOutput* CreateLavOutput(const LavOutputSetup& s, std::string* why) {
    LavOutput* o = new (std::nothrow) LavOutput;
    if (!o) {
        LavAudioPackets* copied = s.copiedAudio;
        CloseLavAudioPackets(copied);
        return *why = "out of memory", nullptr;
    }
    const auto fail = [&](const std::string& text) -> LavOutput* {
        *why = text;
        // A file this call created goes again; one another run holds stays.
        if (o->lockFd >= 0) unlink(o->path.c_str());
        CloseLavOutput(o);
        return nullptr;
    };
    o->copied = s.copiedAudio;
    std::string locked;
    if ((o->lockFd = LockDestination(s.path, &locked)) < 0) return fail(locked);
    o->path = s.path;
    // Named as a file, so no part of the name is taken for a protocol; MP4's
    // fast start opens it again by this name.
    const std::string url = std::string("file:") + s.path;
    if (avformat_alloc_output_context2(&o->format, nullptr, MuxerOf(s.container), url.c_str()) < 0 || !o->format)
        return fail("no muxer for this container");
    o->packet = av_packet_alloc();
    o->rateNum = s.rateNum;
    o->rateDen = s.rateDen;
    o->containerName = OutputContainerName(s.container);
    o->keepsPriming = s.container == OutputContainer::mp4 || s.container == OutputContainer::mov;
    if (!o->packet) return fail("out of memory");
    std::string reason;
    if (!OpenVideo(o, s, &reason)) return fail(reason);
    if (o->copied && !OpenCopiedAudio(o, s, &reason)) return fail(reason);
    if (!o->copied && s.audio != AudioCodec::none && !OpenAudio(o, s, &reason)) return fail(reason);
    const int opened = avio_open(&o->format->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) return fail(std::string(s.path) + ": " + ErrorText(opened));
    AVDictionary* opts = nullptr;
    // The index at the front, so players start before the whole file is read.
    if (s.container == OutputContainer::mp4 || s.container == OutputContainer::mov)
        av_dict_set(&opts, "movflags", "+faststart", 0);
    // Matroska stores uncompressed pictures only in its AVI-compatible mode.
    if (s.container == OutputContainer::mkv) av_dict_set(&opts, "allow_raw_vfw", "1", 0);
    FfmpegComplaint complaint;
    const int header = avformat_write_header(o->format, &opts);
    av_dict_free(&opts);
    if (header < 0)
        return fail("the container refused the streams: " +
                    (complaint.text.empty() ? ErrorText(header) : complaint.text));
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
    if (!CarryAudio(o, true)) return false;
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
    av_packet_free(&o->held);
    CloseLavAudioPackets(o->copied);
    if (o->format) {
        if (o->format->pb) avio_closep(&o->format->pb);
        avformat_free_context(o->format);
    }
    if (o->lockFd >= 0) close(o->lockFd);
    delete o;
    o = nullptr;
}
