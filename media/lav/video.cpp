#include "media/lav/video.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "frames/geometry.h"
#include "media/lav/input.h"
#include "media/lav/streams.h"
#include "media/vfw/bgr_convert.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace {

// Beyond these a stream is refused rather than decoded, as in the AVI reader.
constexpr std::int64_t maxSide = 16384, maxPixels = 8192LL * 8192LL;
constexpr std::int64_t maxPictures = 20'000'000;
constexpr double requestSeconds = 60;  // one picture, from its key frame on
constexpr int maxDecodeErrors = 16;

struct Key {
    std::int64_t pts;     // display time of the key picture
    std::int64_t seekAt;  // the time a seek asks for
};

}  // namespace

struct LavVideo {
    LavInput in;
    int stream = -1;
    AVCodecContext* ctx = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    BgrConverter convert;
    std::vector<std::int64_t> pts;  // display order
    std::vector<Key> keys;          // by display time
    std::int64_t length = 0;        // grid positions
    Ratio base, rate;               // the stream's time base, the grid's rate
    int quarterTurns = 0;           // clockwise
    std::int32_t codedWidth = 0, codedHeight = 0, width = 0, height = 0;
    std::uint32_t stride = 0;
    std::unique_ptr<std::uint8_t[]> pixels, upright;
    std::int32_t shown = -1;      // the picture in pixels
    std::int32_t lastIndex = -1;  // the last picture taken from the decoder
    bool held = false;            // frame holds that picture, not yet delivered
    bool needSeek = true;
    bool draining = false;
};

namespace {

std::uint8_t* Allocate(std::unique_ptr<std::uint8_t[]>& owner, std::size_t bytes) {
    owner.reset(new std::uint8_t[bytes + 64]());
    return owner.get();
}

// Clockwise quarter turns a player applies to show the picture upright.
int QuarterTurns(const AVStream* st) {
    const auto* matrix =
        reinterpret_cast<const std::int32_t*>(av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!matrix) return 0;
    const double angle = -av_display_rotation_get(matrix);  // clockwise degrees
    if (!std::isfinite(angle)) return 0;
    const long turns = std::lround(angle / 90.0);
    if (std::fabs(angle - turns * 90.0) > 1.0) return 0;  // only right angles are applied
    return static_cast<int>(((turns % 4) + 4) % 4);
}

// Scans every packet of the stream: display times, key pictures and the
// end of the last picture. Edit lists show up as packets to decode but not
// to show (libavformat flags them), which are left out of the display times.
bool ScanPackets(LavVideo& v, std::int64_t* end, std::string* why) {
    AVFormatContext* f = v.in.format;
    for (unsigned i = 0; i < f->nb_streams; ++i)
        f->streams[i]->discard = static_cast<int>(i) == v.stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVPacket* p = v.packet;
    std::int64_t last = AV_NOPTS_VALUE, lastDuration = 0;
    *end = AV_NOPTS_VALUE;
    SetLavDeadline(v.in, 30 + static_cast<double>(v.in.size) / 20e6);
    int r;
    while ((r = av_read_frame(f, p)) >= 0) {
        if (p->stream_index == v.stream) {
            std::int64_t t = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
            if (t == AV_NOPTS_VALUE && last != AV_NOPTS_VALUE) t = last + std::max<std::int64_t>(lastDuration, 1);
            if (t != AV_NOPTS_VALUE && !(p->flags & AV_PKT_FLAG_DISCARD)) {
                v.pts.push_back(t);
                if (p->flags & AV_PKT_FLAG_KEY) v.keys.push_back({t, p->dts != AV_NOPTS_VALUE ? p->dts : t});
                const std::int64_t stop = t + std::max<std::int64_t>(p->duration, 0);
                if (*end == AV_NOPTS_VALUE || stop > *end) *end = stop;
                if (static_cast<std::int64_t>(v.pts.size()) > maxPictures) {
                    av_packet_unref(p);
                    *why = "too many pictures";
                    return false;
                }
            }
            if (t != AV_NOPTS_VALUE) last = t;
            if (p->duration > 0) lastDuration = p->duration;
        }
        av_packet_unref(p);
    }
    if (r == AVERROR_EXIT) {
        *why = "reading the file took too long";
        return false;
    }
    std::sort(v.pts.begin(), v.pts.end());
    v.pts.erase(std::unique(v.pts.begin(), v.pts.end()), v.pts.end());
    std::sort(v.keys.begin(), v.keys.end(), [](const Key& a, const Key& b) { return a.pts < b.pts; });
    if (v.pts.empty()) {
        *why = "no video pictures";
        return false;
    }
    return true;
}

bool Seek(LavVideo& v, const Key* key) {
    avcodec_flush_buffers(v.ctx);
    v.held = false;
    v.draining = false;
    v.lastIndex = -1;
    v.needSeek = false;
    AVFormatContext* f = v.in.format;
    if (key && avformat_seek_file(f, v.stream, INT64_MIN, key->seekAt, key->seekAt, 0) >= 0) return true;
    // From the start: the first key, else the file's first byte.
    if (!v.keys.empty() &&
        avformat_seek_file(f, v.stream, INT64_MIN, v.keys.front().seekAt, v.keys.front().seekAt, 0) >= 0)
        return true;
    return av_seek_frame(f, v.stream, 0, AVSEEK_FLAG_BYTE) >= 0 ||
           av_seek_frame(f, -1, INT64_MIN, AVSEEK_FLAG_ANY) >= 0;
}

// Sends the next packet of the stream, or the end of the stream.
bool Feed(LavVideo& v) {
    if (v.draining) return false;
    for (;;) {
        const int r = av_read_frame(v.in.format, v.packet);
        if (r < 0) {
            v.draining = true;
            return avcodec_send_packet(v.ctx, nullptr) == 0;
        }
        if (v.packet->stream_index != v.stream) {
            av_packet_unref(v.packet);
            continue;
        }
        const int sent = avcodec_send_packet(v.ctx, v.packet);
        av_packet_unref(v.packet);
        return sent == 0 || sent == AVERROR_INVALIDDATA || sent == AVERROR(EAGAIN);
    }
}

// The decoder's next picture that is shown, numbered by its display time.
bool ReceiveOne(LavVideo& v) {
    int errors = 0;
    for (;;) {
        const int r = avcodec_receive_frame(v.ctx, v.frame);
        if (r == AVERROR(EAGAIN)) {
            if (!Feed(v) && ++errors > maxDecodeErrors) break;
            continue;
        }
        if (r == AVERROR_EOF) break;
        if (r < 0) {
            if (++errors > maxDecodeErrors) break;
            continue;
        }
        const std::int64_t t = v.frame->best_effort_timestamp;
        std::int32_t index;
        if (t == AV_NOPTS_VALUE) {
            index = v.lastIndex + 1;
        } else {
            const auto at = std::lower_bound(v.pts.begin(), v.pts.end(), t);
            if (at == v.pts.end() || *at != t) {  // a picture the file doesn't show
                av_frame_unref(v.frame);
                continue;
            }
            index = static_cast<std::int32_t>(at - v.pts.begin());
        }
        v.lastIndex = index;
        v.held = true;
        return true;
    }
    v.needSeek = true;
    return false;
}

// The picture of display index t into pixels.
bool Rotate(LavVideo& v);

bool DecodePicture(LavVideo& v, std::int32_t t) {
    // The latest key picture shown at or before t.
    const auto after = std::upper_bound(v.keys.begin(), v.keys.end(), v.pts[t],
                                        [](std::int64_t time, const Key& k) { return time < k.pts; });
    const Key* key = after == v.keys.begin() ? nullptr : &*(after - 1);
    const std::int32_t keyIndex =
        key ? static_cast<std::int32_t>(std::lower_bound(v.pts.begin(), v.pts.end(), key->pts) - v.pts.begin()) : 0;
    const bool passed = t < v.lastIndex || (t == v.lastIndex && !v.held);
    // Right after a seek, a first picture past t means the demuxer landed
    // after the key picture asked for: then once more from the start.
    bool justSought = false, retried = false;
    if (v.needSeek || passed || keyIndex > v.lastIndex + 16) {
        if (!Seek(v, key)) return false;
        justSought = true;
        retried = !key;
    }
    for (;;) {
        if (!v.held && !ReceiveOne(v)) return false;
        if (v.lastIndex < t) {
            av_frame_unref(v.frame);
            v.held = false;
            justSought = false;
            continue;
        }
        if (v.lastIndex > t) {
            if (!justSought || retried) return false;  // t didn't decode; this one waits for its turn
            if (!Seek(v, nullptr)) return false;
            retried = true;
            continue;
        }
        v.held = false;
        v.shown = -1;
        bool ok;
        if (v.quarterTurns == 0) {
            ok = ConvertToBgr(v.convert, v.frame, v.pixels.get(), v.width, v.height, v.stride, false);
        } else {
            ok = ConvertToBgr(v.convert, v.frame, v.upright.get(), v.codedWidth, v.codedHeight,
                              static_cast<std::uint32_t>(v.codedWidth) * 3, true) &&
                 Rotate(v);
        }
        av_frame_unref(v.frame);
        return ok;
    }
}

// From the converted picture (top row first) into the delivered rows,
// turned clockwise by the quarter turns, last row first.
bool Rotate(LavVideo& v) {
    const std::uint8_t* src = v.upright.get();
    const std::int64_t w = v.codedWidth, h = v.codedHeight;
    for (std::int32_t y = 0; y < v.height; ++y) {
        std::uint8_t* out = v.pixels.get() + std::size_t{v.stride} * static_cast<std::size_t>(v.height - 1 - y);
        for (std::int32_t x = 0; x < v.width; ++x) {
            std::int64_t sx, sy;
            switch (v.quarterTurns) {
                case 1: sx = y, sy = h - 1 - x; break;
                case 2: sx = w - 1 - x, sy = h - 1 - y; break;
                default: sx = w - 1 - y, sy = x; break;
            }
            std::memcpy(out + 3 * x, src + 3 * (sy * w + sx), 3);
        }
    }
    return true;
}

Ratio RatioOf(AVRational r) { return Ratio{r.num, r.den}; }

}  // namespace

LavVideo* OpenLavVideo(const char* path, Ratio sourceRate, LavVideoInfo* info, std::string* why) {
    std::unique_ptr<LavVideo> owned;
    try {
        owned = std::make_unique<LavVideo>();
    } catch (const std::bad_alloc&) {
        *why = "out of memory";
        return nullptr;
    }
    LavVideo& v = *owned;
    const auto fail = [&](const std::string& text) -> LavVideo* {
        *why = text;
        CloseLavVideo(owned.release());
        return nullptr;
    };
    if (!OpenLavInput(v.in, path, why)) return fail(*why);
    AVFormatContext* f = v.in.format;
    v.stream = av_find_best_stream(f, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (v.stream < 0) return fail("no video stream");
    AVStream* st = f->streams[v.stream];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) return fail(std::string("no decoder for ") + avcodec_get_name(st->codecpar->codec_id));
    const std::int64_t cw = st->codecpar->width, ch = st->codecpar->height;
    if (cw <= 0 || ch <= 0 || cw > maxSide || ch > maxSide || cw * ch > maxPixels) return fail("no usable frame size");
    v.ctx = avcodec_alloc_context3(codec);
    v.packet = av_packet_alloc();
    v.frame = av_frame_alloc();
    if (!v.ctx || !v.packet || !v.frame) return fail("out of memory");
    if (avcodec_parameters_to_context(v.ctx, st->codecpar) < 0) return fail("unusable codec parameters");
    v.ctx->pkt_timebase = st->time_base;
    v.ctx->thread_count = 0;
    v.ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    v.ctx->max_pixels = maxPixels;
    if (avcodec_open2(v.ctx, codec, nullptr) < 0)
        return fail(std::string("the ") + codec->name + " decoder refused the stream");

    std::int64_t end = 0;
    if (!ScanPackets(v, &end, why)) return fail(*why);
    const Ratio base = RatioOf(st->time_base);
    if (base.num <= 0 || base.den <= 0) return fail("no time base");
    Ratio rate = sourceRate;
    if (rate.num <= 0 || rate.den <= 0) rate = RatioOf(st->avg_frame_rate);
    if (rate.num <= 0 || rate.den <= 0) rate = RatioOf(st->r_frame_rate);
    if (rate.num <= 0 || rate.den <= 0) {
        // Pictures over the time they cover.
        const std::int64_t span = v.pts.back() - v.pts.front();
        if (span <= 0) return fail("no frame rate");
        AVRational r;
        av_reduce(&r.num, &r.den, (static_cast<std::int64_t>(v.pts.size()) - 1) * base.den, span * base.num, INT32_MAX);
        rate = RatioOf(r);
    }
    {
        AVRational r;
        av_reduce(&r.num, &r.den, rate.num, rate.den, INT32_MAX);
        rate = RatioOf(r);
    }
    // A last picture without a duration shows for one frame of the grid.
    const std::int64_t oneFrame =
        av_rescale_q(1, AVRational{static_cast<int>(rate.den), static_cast<int>(rate.num)}, st->time_base);
    end = std::max(end, v.pts.back() + std::max<std::int64_t>(oneFrame, 1));
    const std::int64_t length = GridLength(v.pts.front(), end, base, rate);
    if (length <= 0) return fail("no frames");
    v.length = length;
    v.base = base;
    v.rate = rate;

    v.quarterTurns = QuarterTurns(st);
    v.codedWidth = static_cast<std::int32_t>(cw);
    v.codedHeight = static_cast<std::int32_t>(ch);
    v.width = v.quarterTurns % 2 ? v.codedHeight : v.codedWidth;
    v.height = v.quarterTurns % 2 ? v.codedWidth : v.codedHeight;
    v.stride = static_cast<std::uint32_t>(RowStride(v.width));
    try {
        Allocate(v.pixels, std::size_t{v.stride} * static_cast<std::size_t>(v.height));
        if (v.quarterTurns) Allocate(v.upright, std::size_t{3} * static_cast<std::size_t>(cw * ch));
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
    // The first picture must decode: it proves there is a conversion to 24-bit.
    if (!LavVideoPicture(&v, 0)) return fail(std::string("the first picture doesn't decode (") + codec->name + ")");

    LavVideoInfo& out = *info;
    out = LavVideoInfo{};
    out.width = v.width;
    out.height = v.height;
    out.rate = rate;
    out.variable = VariableSpacing(v.pts);
    out.length = length;
    out.pictures = static_cast<std::int64_t>(v.pts.size());
    out.rotation = v.quarterTurns * 90;
    // The pixels' shape as delivered: a quarter turn swaps their sides.
    const AVRational sar = av_guess_sample_aspect_ratio(f, st, nullptr);
    out.sampleAspect = sar.num > 0 && sar.den > 0 ? RatioOf(sar) : Ratio{0, 1};
    if (v.quarterTurns % 2 && out.sampleAspect.num > 0) out.sampleAspect = Ratio{sar.den, sar.num};
    out.container = ContainerName(f);
    const AVCodecDescriptor* d = avcodec_descriptor_get(st->codecpar->codec_id);
    out.codec = d && d->long_name ? d->long_name : avcodec_get_name(st->codecpar->codec_id);
    const char* pixelFormat = av_get_pix_fmt_name(static_cast<AVPixelFormat>(st->codecpar->format));
    out.pixelFormat = pixelFormat ? pixelFormat : "";
    out.interlaced = st->codecpar->field_order != AV_FIELD_PROGRESSIVE && st->codecpar->field_order != AV_FIELD_UNKNOWN;
    out.origin = Ratio{v.pts.front() * base.num, base.den};
    out.streams = DescribeStreams(f);
    out.videoStream = v.stream;
    return owned.release();
}

const std::uint8_t* LavVideoPicture(LavVideo* v, std::int64_t n) {
    if (!v || n < 0 || n >= v->length) return nullptr;
    const std::int32_t t = GridPicture(v->pts, n, v->base, v->rate);
    if (t == v->shown) return v->pixels.get();
    SetLavDeadline(v->in, requestSeconds);
    bool ok = false;
    try {
        ok = DecodePicture(*v, t);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    v->in.deadlineNs = 0;
    if (!ok) {
        v->needSeek = v->needSeek || !v->held;
        return nullptr;
    }
    v->shown = t;
    return v->pixels.get();
}

void CloseLavVideo(LavVideo* v) {
    if (!v) return;
    FreeBgrConverter(v->convert);
    av_frame_free(&v->frame);
    av_packet_free(&v->packet);
    avcodec_free_context(&v->ctx);
    CloseLavInput(v->in);
    delete v;
}
