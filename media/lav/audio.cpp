#include "media/lav/audio.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "media/lav/input.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace {

constexpr int maxDecodeErrors = 64;
// A gap in the timestamps is filled with at most this much silence per
// step, so a jump of hours (or a crafted one) never asks for it all at once.
constexpr std::int64_t silenceStep = 1 << 16;

}  // namespace

struct LavAudio {
    LavInput in;
    int stream = -1;
    AVCodecContext* ctx = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwrContext* swr = nullptr;
    // What swr converts from: a stream may change its channels, sample
    // format or rate midway (a broadcast's sound between programmes).
    AVChannelLayout swrLayout{};
    int swrFormat = -1, swrRate = 0;
    int channels = 0, rate = 0;
    Ratio timeBase, origin;
    std::int64_t length = 0;
    std::int64_t firstDts = AV_NOPTS_VALUE;  // where decoding starts over
    // Decoded samples not yet read: pending[head..] holds samples from `position` on.
    std::vector<std::int16_t> pending;
    std::size_t head = 0;
    std::int64_t position = 0;  // the sample at pending[head]
    std::int64_t produced = 0;  // the sample after the last one decoded
    bool started = false;       // a first frame has been placed
    bool ended = false;
    std::vector<std::int16_t> converted;
    // A decoded frame in `converted` waiting behind the silence before it.
    std::int64_t waiting = 0, waitingAt = 0;
};

namespace {

// The sample that timestamp t (in the stream's ticks) falls on, rounded.
std::int64_t SampleAt(const LavAudio& a, std::int64_t t) {
    using Wide = __int128;
    const Wide num = (Wide{t} * a.timeBase.num * a.origin.den - Wide{a.origin.num} * a.timeBase.den) * a.rate;
    const Wide den = Wide{a.timeBase.den} * a.origin.den;
    const Wide twice = (2 * num + (num >= 0 ? den : -den)) / (2 * den);
    return static_cast<std::int64_t>(twice);
}

int StreamNumber(AVFormatContext* f, int which) {
    for (unsigned i = 0; i < f->nb_streams; ++i)
        if (f->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && which-- == 0) return static_cast<int>(i);
    return -1;
}

// A decoder as new: some (AAC) decode the first frames after a flush a
// little differently, and a read that goes back must give the same samples.
bool OpenDecoder(LavAudio& a) {
    const AVStream* st = a.in.format->streams[a.stream];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    avcodec_free_context(&a.ctx);
    a.ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!a.ctx || avcodec_parameters_to_context(a.ctx, st->codecpar) < 0) return false;
    a.ctx->pkt_timebase = st->time_base;
    return avcodec_open2(a.ctx, codec, nullptr) >= 0;
}

// Sets the conversion up from frames of this layout, sample format and rate
// to the stream's 16-bit channels at its rate.
bool Configure(LavAudio& a, const AVChannelLayout& layout, int format, int rate) {
    swr_free(&a.swr);
    av_channel_layout_uninit(&a.swrLayout);
    a.swrFormat = -1;
    a.swrRate = 0;
    if (layout.nb_channels <= 0 || rate <= 0 || rate > 768000) return false;
    AVChannelLayout in{}, out{};
    if (av_channel_layout_copy(&in, &layout) < 0 || in.order == AV_CHANNEL_ORDER_UNSPEC ||
        !av_channel_layout_check(&in)) {
        av_channel_layout_uninit(&in);
        av_channel_layout_default(&in, layout.nb_channels);
    }
    av_channel_layout_default(&out, a.channels);
    const int made = swr_alloc_set_opts2(&a.swr, &out, AV_SAMPLE_FMT_S16, a.rate, &in,
                                         static_cast<AVSampleFormat>(format), rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (made < 0 || swr_init(a.swr) < 0 || av_channel_layout_copy(&a.swrLayout, &layout) < 0) {
        swr_free(&a.swr);
        return false;
    }
    a.swrFormat = format;
    a.swrRate = rate;
    return true;
}

// Whether the conversion takes this frame, set up anew when the frame differs.
bool ConversionFits(LavAudio& a, const AVFrame& f) {
    if (a.swr && f.format == a.swrFormat && f.sample_rate == a.swrRate &&
        av_channel_layout_compare(&f.ch_layout, &a.swrLayout) == 0)
        return true;
    return Configure(a, f.ch_layout, f.format, f.sample_rate);
}

bool Restart(LavAudio& a) {
    if (!OpenDecoder(a)) return false;
    swr_free(&a.swr);  // set up again by the first frame, with nothing held back
    AVFormatContext* f = a.in.format;
    // The very first packet: priming the decoder skips (AAC's) gives the
    // first samples their overlap, as in the first decoding.
    std::int64_t start = a.firstDts != AV_NOPTS_VALUE ? a.firstDts : f->streams[a.stream]->start_time;
    if (av_seek_frame(f, a.stream, start == AV_NOPTS_VALUE ? 0 : start, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(f, -1, 0, AVSEEK_FLAG_BYTE);
    a.pending.clear();
    a.head = 0;
    a.position = a.produced = 0;
    a.started = a.ended = false;
    a.waiting = 0;
    return true;
}

void Append(LavAudio& a, const std::int16_t* samples, std::int64_t count) {
    if (samples)
        a.pending.insert(a.pending.end(), samples, samples + count * a.channels);
    else
        a.pending.insert(a.pending.end(), static_cast<std::size_t>(count * a.channels), 0);
    a.produced += count;
}

// Places the waiting frame at its time, or the next stretch of the silence before it.
bool PlaceWaiting(LavAudio& a) {
    if (a.waitingAt > a.produced) {
        Append(a, nullptr, std::min(a.waitingAt - a.produced, silenceStep));
        if (a.waitingAt > a.produced) return true;
    }
    const std::int64_t skip = std::min(a.produced - a.waitingAt, a.waiting);
    Append(a, a.converted.data() + skip * a.channels, a.waiting - skip);
    a.waiting = 0;
    return true;
}

// Decodes the next frame and places it at its time; false at the end.
bool DecodeMore(LavAudio& a) {
    if (a.waiting > 0) return PlaceWaiting(a);
    int errors = 0;
    for (;;) {
        int r = avcodec_receive_frame(a.ctx, a.frame);
        if (r == AVERROR(EAGAIN)) {
            r = av_read_frame(a.in.format, a.packet);
            if (r < 0) {
                if (avcodec_send_packet(a.ctx, nullptr) < 0) return false;
                continue;
            }
            if (a.packet->stream_index == a.stream) {
                const int sent = avcodec_send_packet(a.ctx, a.packet);
                if (sent < 0 && sent != AVERROR_INVALIDDATA && ++errors > maxDecodeErrors) {
                    av_packet_unref(a.packet);
                    return false;
                }
            }
            av_packet_unref(a.packet);
            continue;
        }
        if (r < 0) {
            if (r == AVERROR_EOF || ++errors > maxDecodeErrors) return false;
            continue;
        }
        if (!ConversionFits(a, *a.frame)) {
            av_frame_unref(a.frame);
            if (++errors > maxDecodeErrors) return false;
            continue;
        }
        const int in = a.frame->nb_samples;
        const int room = swr_get_out_samples(a.swr, in) + 256;
        a.converted.resize(static_cast<std::size_t>(room) * a.channels);
        uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(a.converted.data())};
        const int got = swr_convert(a.swr, outPlanes, room, const_cast<const uint8_t**>(a.frame->extended_data), in);
        const std::int64_t t = a.frame->best_effort_timestamp;
        av_frame_unref(a.frame);
        if (got <= 0) continue;
        std::int64_t at = t == AV_NOPTS_VALUE ? a.produced : SampleAt(a, t);
        // Timestamps within 5 ms of where the sound has got to keep it continuous;
        // the first frame is placed exactly.
        const std::int64_t slack = a.started ? a.rate / 200 : 0;
        a.started = true;
        if (at <= a.produced + slack && at >= a.produced - slack) at = a.produced;
        a.waiting = got;
        a.waitingAt = at;
        return PlaceWaiting(a);
    }
}

// The time the stream's last packet stops, in its ticks.
std::int64_t ScanEnd(LavAudio& a) {
    AVFormatContext* f = a.in.format;
    std::int64_t end = AV_NOPTS_VALUE;
    SetLavDeadline(a.in, 30 + static_cast<double>(a.in.size) / 20e6);
    while (av_read_frame(f, a.packet) >= 0) {
        const AVPacket* p = a.packet;
        const std::int64_t t = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        if (p->stream_index == a.stream && t != AV_NOPTS_VALUE && !(p->flags & AV_PKT_FLAG_DISCARD))
            end = std::max(end == AV_NOPTS_VALUE ? t : end, t + std::max<std::int64_t>(p->duration, 0));
        const std::int64_t d = p->dts != AV_NOPTS_VALUE ? p->dts : t;
        if (p->stream_index == a.stream && d != AV_NOPTS_VALUE && (a.firstDts == AV_NOPTS_VALUE || d < a.firstDts))
            a.firstDts = d;
        av_packet_unref(a.packet);
    }
    a.in.deadlineNs = 0;
    return end;
}

}  // namespace

int CountLavAudioStreams(const char* path) {
    LavInput in;
    std::string why;
    if (!OpenLavInput(in, path, &why)) return -1;
    int count = 0;
    for (unsigned i = 0; i < in.format->nb_streams; ++i)
        count += in.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    CloseLavInput(in);
    return count;
}

LavAudio* OpenLavAudio(const char* path, int which, Ratio origin, LavAudioInfo* info, std::string* why) {
    std::unique_ptr<LavAudio> owned;
    try {
        owned = std::make_unique<LavAudio>();
    } catch (const std::bad_alloc&) {
        *why = "out of memory";
        return nullptr;
    }
    LavAudio& a = *owned;
    const auto fail = [&](const std::string& text) -> LavAudio* {
        *why = text;
        CloseLavAudio(owned.release());
        return nullptr;
    };
    if (!OpenLavInput(a.in, path, why)) return fail(*why);
    AVFormatContext* f = a.in.format;
    a.stream = StreamNumber(f, which);
    if (a.stream < 0) return fail("no audio stream " + std::to_string(which));
    for (unsigned i = 0; i < f->nb_streams; ++i)
        f->streams[i]->discard = static_cast<int>(i) == a.stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVStream* st = f->streams[a.stream];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) return fail(std::string("no decoder for ") + avcodec_get_name(st->codecpar->codec_id));
    a.packet = av_packet_alloc();
    a.frame = av_frame_alloc();
    if (!a.packet || !a.frame) return fail("out of memory");
    if (!OpenDecoder(a)) return fail(std::string("the ") + codec->name + " decoder refused the stream");
    const int sourceChannels = a.ctx->ch_layout.nb_channels;
    a.rate = a.ctx->sample_rate;
    if (sourceChannels <= 0 || a.rate <= 0 || a.rate > 768000) return fail("no sample rate or channels");
    // More channels than a plain PCM stream places are mixed down to two.
    a.channels = sourceChannels > 8 ? 2 : sourceChannels;
    if (!Configure(a, a.ctx->ch_layout, a.ctx->sample_fmt, a.rate)) return fail("no conversion to 16-bit samples");
    a.timeBase = Ratio{st->time_base.num, st->time_base.den};
    a.origin = origin.den > 0 ? origin : Ratio{0, 1};
    if (a.timeBase.num <= 0 || a.timeBase.den <= 0) return fail("no time base");

    const std::int64_t end = ScanEnd(a);
    a.length = end == AV_NOPTS_VALUE ? 0 : std::max<std::int64_t>(0, SampleAt(a, end));
    if (!Restart(a)) return fail("the decoder can't start over");
    // Some sound must decode.
    SetLavDeadline(a.in, 30);
    const bool decodes = DecodeMore(a);
    a.in.deadlineNs = 0;
    if (!decodes) return fail(std::string("the ") + codec->name + " audio doesn't decode");

    LavAudioInfo& out = *info;
    out = LavAudioInfo{};
    out.channels = a.channels;
    out.sampleRate = a.rate;
    out.length = a.length;
    const AVCodecDescriptor* d = avcodec_descriptor_get(st->codecpar->codec_id);
    out.codec = d && d->long_name ? d->long_name : avcodec_get_name(st->codecpar->codec_id);
    out.sourceBits =
        st->codecpar->bits_per_raw_sample ? st->codecpar->bits_per_raw_sample : st->codecpar->bits_per_coded_sample;
    out.sourceChannels = sourceChannels;
    out.stream = a.stream;
    return owned.release();
}

std::int64_t ReadLavAudio(LavAudio* a, std::int64_t from, std::int64_t count, std::uint8_t* out) {
    if (!a || from < 0 || count < 0) return -1;
    if (from >= a->length) return 0;
    count = std::min(count, a->length - from);
    try {
        if (from < a->position && !Restart(*a)) return -1;
        SetLavDeadline(a->in, 60);
        while (a->produced < from + count && !a->ended) {
            // Silence wholly before the read is passed over, not made.
            if (a->waiting > 0 && a->produced < from && a->position == a->produced) {
                a->pending.clear();
                a->head = 0;
                a->position = a->produced = std::min(from, a->waitingAt);
            }
            if (!DecodeMore(*a)) a->ended = true;
            // Drop what lies before the read as it comes, so memory stays small.
            const std::int64_t before = std::min(from, a->produced) - a->position;
            if (before > 0) {
                a->head += static_cast<std::size_t>(before * a->channels);
                a->position += before;
            }
            if (a->head > (1u << 20) && a->head * 2 > a->pending.size()) {
                a->pending.erase(a->pending.begin(), a->pending.begin() + static_cast<std::ptrdiff_t>(a->head));
                a->head = 0;
            }
        }
        a->in.deadlineNs = 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
    // What the decoder gave up short of the stream's end plays as silence;
    // nothing before `from` is kept by now, so only the read's part is made.
    if (a->produced < from) {
        a->pending.clear();
        a->head = 0;
        a->position = a->produced = from;
    }
    if (a->produced < from + count) Append(*a, nullptr, from + count - a->produced);
    const std::int64_t skip = from - a->position;
    const std::int16_t* first = a->pending.data() + a->head + skip * a->channels;
    std::memcpy(out, first, static_cast<std::size_t>(count * a->channels) * 2);
    // Samples before from + count are never read again in order.
    a->head += static_cast<std::size_t>((skip + count) * a->channels);
    a->position = from + count;
    if (a->head == a->pending.size()) {
        a->pending.clear();
        a->head = 0;
    }
    return count;
}

void CloseLavAudio(LavAudio* a) {
    if (!a) return;
    swr_free(&a->swr);
    av_channel_layout_uninit(&a->swrLayout);
    av_frame_free(&a->frame);
    av_packet_free(&a->packet);
    avcodec_free_context(&a->ctx);
    CloseLavInput(a->in);
    delete a;
}
