#include "media/lav/audio_packets.h"

#include <cmath>
#include <new>

#include "media/lav/input.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct LavAudioPackets {
    LavInput in;
    int stream = -1;
    Ratio timeBase, origin;
};

namespace {

// Stream ticks t as ticks of `to` counted from the origin, rounded half away from zero.
std::int64_t Retime(const LavAudioPackets& p, std::int64_t t, Ratio to) {
    using Wide = __int128;
    const Wide num = (Wide{t} * p.timeBase.num * p.origin.den - Wide{p.origin.num} * p.timeBase.den) * to.den;
    const Wide den = Wide{p.timeBase.den} * p.origin.den * to.num;
    return static_cast<std::int64_t>((2 * num + (num >= 0 ? den : -den)) / (2 * den));
}

std::int64_t Span(const LavAudioPackets& p, std::int64_t d, Ratio to) {
    using Wide = __int128;
    const Wide num = Wide{d} * p.timeBase.num * to.den, den = Wide{p.timeBase.den} * to.num;
    return static_cast<std::int64_t>((2 * num + den) / (2 * den));
}

// Whether ticks t of the stream lie within a billion seconds of zero: times
// beyond are no file's meaning and would carry the arithmetic out of range.
bool Plausible(const LavAudioPackets& p, std::int64_t t) {
    const double seconds = static_cast<double>(t) * static_cast<double>(p.timeBase.num) / p.timeBase.den;
    return std::fabs(seconds) < 1e9;
}

}  // namespace

LavAudioPackets* OpenLavAudioPackets(const char* path, int which, Ratio origin, std::string* why) {
    LavAudioPackets* p = new (std::nothrow) LavAudioPackets;
    if (!p) return *why = "out of memory", nullptr;
    if (!OpenLavInput(p->in, path, why)) return CloseLavAudioPackets(p), nullptr;
    AVFormatContext* f = p->in.format;
    for (unsigned i = 0; i < f->nb_streams; ++i)
        if (f->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && which-- == 0) p->stream = static_cast<int>(i);
    if (p->stream < 0) return *why = "no such audio stream", CloseLavAudioPackets(p), nullptr;
    for (unsigned i = 0; i < f->nb_streams; ++i)
        f->streams[i]->discard = static_cast<int>(i) == p->stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    const AVRational base = f->streams[p->stream]->time_base;
    p->timeBase = Ratio{base.num, base.den};
    p->origin = origin.den > 0 ? origin : Ratio{0, 1};
    if (base.num <= 0 || base.den <= 0) return *why = "no time base", CloseLavAudioPackets(p), nullptr;
    return p;
}

const AVCodecParameters* LavAudioPacketsCodec(const LavAudioPackets* p) {
    return p->in.format->streams[p->stream]->codecpar;
}

int LavAudioPacketsCodecId(const LavAudioPackets* p) { return LavAudioPacketsCodec(p)->codec_id; }

bool NextLavAudioPacket(LavAudioPackets* p, Ratio timeBase, AVPacket* packet) {
    SetLavDeadline(p->in, 60);
    for (;;) {
        if (av_read_frame(p->in.format, packet) < 0) {
            p->in.deadlineNs = 0;
            return false;
        }
        // A packet with no time can't be placed; its sound is left out.
        const std::int64_t t = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (packet->stream_index != p->stream || t == AV_NOPTS_VALUE || !Plausible(*p, t) || packet->size <= 0) {
            av_packet_unref(packet);
            continue;
        }
        packet->pts = Retime(*p, t, timeBase);
        packet->dts = packet->dts != AV_NOPTS_VALUE && Plausible(*p, packet->dts) ? Retime(*p, packet->dts, timeBase)
                                                                                  : packet->pts;
        std::int64_t duration = packet->duration;
        if (duration <= 0) {
            // Samples the packet holds, from its codec's framing.
            const AVCodecParameters* par = p->in.format->streams[p->stream]->codecpar;
            const int samples = av_get_audio_frame_duration2(const_cast<AVCodecParameters*>(par), packet->size);
            if (samples > 0 && par->sample_rate > 0)
                duration =
                    av_rescale_q(samples, AVRational{1, par->sample_rate},
                                 AVRational{static_cast<int>(p->timeBase.num), static_cast<int>(p->timeBase.den)});
        }
        packet->duration = duration > 0 && Plausible(*p, duration) ? Span(*p, duration, timeBase) : 0;
        packet->time_base = AVRational{static_cast<int>(timeBase.num), static_cast<int>(timeBase.den)};
        p->in.deadlineNs = 0;
        return true;
    }
}

void CloseLavAudioPackets(LavAudioPackets*& p) {
    if (!p) return;
    CloseLavInput(p->in);
    delete p;
    p = nullptr;
}
