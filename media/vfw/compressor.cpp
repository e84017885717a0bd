// Compressing streams: frames in as packed 24-bit (or 32-bit) DIBs, one chunk
// out per frame. "DIB " stores them as they come; every other code goes to a
// libavcodec encoder set up without frame delay (no B-frames, no frame
// threads), so the chunk of a frame is written before the write returns.
#include "media/vfw/compressor.h"
#include "media/vfw/aviwriter.h"
#include "media/vfw/ffmpeg_log.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

namespace {

enum class QualityScale { None, QScale, Crf };
// How an encoder takes its key frame interval: as the group size, or (Video 1)
// as the count of delta frames between key frames.
enum class KeyInterval { None, Gop, Deltas };

struct Codec {
    const char* fcc;      // offered
    const char* stored;   // written to strh/strf; null: the code the options name
    const char* encoder;  // libavcodec's name
    const char* name;
    AVPixelFormat pixels[3];  // tried in order; the first the encoder takes wins
    QualityScale quality;
    KeyInterval keyFrames;
    bool dataRate;
    bool lossless;
    const char* aliases[3];
};

constexpr AVPixelFormat kNone = AV_PIX_FMT_NONE;

const Codec kCodecs[] = {
    {"MJPG",
     "MJPG",
     "mjpeg",
     "Motion JPEG",
     {AV_PIX_FMT_YUVJ420P, kNone, kNone},
     QualityScale::QScale,
     KeyInterval::None,
     true,
     false,
     {}},
    // FFV1 keeps its coder state from frame to frame until the next key frame.
    {"FFV1",
     "FFV1",
     "ffv1",
     "FFV1 (lossless)",
     {AV_PIX_FMT_BGR0, kNone, kNone},
     QualityScale::None,
     KeyInterval::Gop,
     false,
     true,
     {}},
    {"HFYU",
     "HFYU",
     "huffyuv",
     "Huffyuv (lossless)",
     {AV_PIX_FMT_RGB24, kNone, kNone},
     QualityScale::None,
     KeyInterval::None,
     false,
     true,
     {}},
    // Ut Video's code names the pixel layout; planar RGB is ULRG.
    {"UTVD",
     "ULRG",
     "utvideo",
     "Ut Video (lossless)",
     {AV_PIX_FMT_GBRP, kNone, kNone},
     QualityScale::None,
     KeyInterval::None,
     false,
     true,
     {"ULRG"}},
    {"MAGY",
     "MAGY",
     "magicyuv",
     "MagicYUV (lossless)",
     {AV_PIX_FMT_GBRP, kNone, kNone},
     QualityScale::None,
     KeyInterval::None,
     false,
     true,
     {}},
    {"FMP4",
     nullptr,
     "mpeg4",
     "MPEG-4 Part 2 (Xvid/DivX compatible)",
     {AV_PIX_FMT_YUV420P, kNone, kNone},
     QualityScale::QScale,
     KeyInterval::Gop,
     true,
     false,
     {"XVID", "DIVX", "DX50"}},
    {"DIV3",
     "DIV3",
     "msmpeg4",
     "MS MPEG-4 V3 (DivX 3)",
     {AV_PIX_FMT_YUV420P, kNone, kNone},
     QualityScale::QScale,
     KeyInterval::Gop,
     true,
     false,
     {"MP43"}},
    {"H264",
     "H264",
     "libx264",
     "H.264 (x264)",
     {AV_PIX_FMT_YUV420P, kNone, kNone},
     QualityScale::Crf,
     KeyInterval::Gop,
     true,
     false,
     {"X264"}},
    {"CVID",
     "cvid",
     "cinepak",
     "Cinepak",
     {AV_PIX_FMT_RGB24, kNone, kNone},
     QualityScale::None,
     KeyInterval::Gop,
     false,
     false,
     {}},
    {"MSVC",
     "MSVC",
     "msvideo1",
     "Microsoft Video 1",
     {AV_PIX_FMT_RGB555LE, kNone, kNone},
     QualityScale::None,
     KeyInterval::Deltas,
     false,
     false,
     {"CRAM", "WHAM"}},
    // DV takes only its own frame sizes and rates (DvRefusal): 4:2:0 at
    // 720x576 and 25 fps, 4:1:1 at 720x480 and 29.97 fps.
    {"dvsd",
     "dvsd",
     "dvvideo",
     "DV (720x576 at 25, 720x480 at 29.97)",
     {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV411P, kNone},
     QualityScale::None,
     KeyInterval::None,
     false,
     false,
     {}},
};

constexpr uint32_t kDib = mmioFOURCC('D', 'I', 'B', ' ');
// What "key frames every 0 frames" means: only those asked for.
constexpr int kNoKeyInterval = 1 << 30;
// The quality drivers assume when asked for their default.
constexpr uint32_t kDefaultQuality = 7500;

uint32_t Code(const char* s) { return mmioFOURCC(s[0], s[1], s[2], s[3]); }

uint32_t Upper(uint32_t fcc) {
    uint32_t out = 0;
    for (int i = 0; i < 4; ++i)
        out |= static_cast<uint32_t>(std::toupper(static_cast<int>((fcc >> (8 * i)) & 0xff))) << (8 * i);
    return out;
}

bool Available(const Codec& c) { return avcodec_find_encoder_by_name(c.encoder) != nullptr; }

const Codec* Lookup(uint32_t fcc) {
    const uint32_t want = Upper(fcc);
    for (const Codec& c : kCodecs) {
        bool match = Upper(Code(c.fcc)) == want;
        for (const char* a : c.aliases) match = match || (a && Upper(Code(a)) == want);
        if (match) return Available(c) ? &c : nullptr;
    }
    return nullptr;
}

bool IsDib(uint32_t fcc) { return fcc == 0 || Upper(fcc) == kDib; }

bool IsDv(const Codec& c) { return std::strcmp(c.encoder, "dvvideo") == 0; }

// Consumer DV has two systems; anything else would be stored under the
// wrong system's timing or chroma layout.
std::string DvRefusal(int32_t width, int32_t height, uint32_t rate, uint32_t scale) {
    const double fps = scale ? static_cast<double>(rate) / scale : 0.0;
    const bool pal = width == 720 && height == 576 && fps == 25.0;
    const bool ntsc = width == 720 && height == 480 && std::fabs(fps - 30000.0 / 1001.0) < 0.001;
    if (pal || ntsc) return {};
    char text[160];
    std::snprintf(text, sizeof text, "DV takes 720x576 at 25 fps or 720x480 at 29.97 fps, not %dx%d at %.3f fps",
                  static_cast<int>(width), static_cast<int>(height), fps);
    return text;
}

// PAL DV is 4:2:0 and NTSC DV 4:1:1.
bool DvTakes(int32_t height, AVPixelFormat pixels) {
    return pixels == (height == 576 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P);
}

AviCompressorInfo InfoOf(const Codec& c) {
    AviCompressorInfo info{};
    info.fccHandler = Code(c.fcc);
    std::snprintf(info.name, sizeof info.name, "%s", c.name);
    info.quality = c.quality != QualityScale::None;
    info.keyFrames = c.keyFrames != KeyInterval::None;
    info.dataRate = c.dataRate;
    info.lossless = c.lossless;
    return info;
}

AviCompressorInfo DibInfo() {
    AviCompressorInfo info{};
    info.fccHandler = kDib;
    std::snprintf(info.name, sizeof info.name, "%s", "Uncompressed (DIB)");
    info.lossless = true;
    return info;
}

}  // namespace

struct AviCompressor {
    AVICOMPRESSOPTIONS options;
    const Codec* codec;  // null: "DIB "
    uint32_t stored;     // the code in strh and strf
    AviStream* target;   // the stream the chunks go to; referenced
    bool formatSet = false;
    int32_t width = 0;
    int32_t height = 0;  // rows; the input may be top-down
    bool topDown = false;
    uint32_t stride = 0;
    AVPixelFormat input = AV_PIX_FMT_NONE;
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* sws = nullptr;
    int64_t pts = 0;
};

namespace {

void CloseEncoder(AviCompressor* c) {
    sws_freeContext(c->sws);
    c->sws = nullptr;
    av_frame_free(&c->frame);
    av_packet_free(&c->packet);
    avcodec_free_context(&c->ctx);
}

// What an encoder is opened for: the compressor, its options, the frame
// size and the rate (dwRate / dwScale).
struct EncoderSetup {
    const Codec& codec;
    const AVICOMPRESSOPTIONS& options;
    int32_t width, height;
    uint32_t rate, scale;
};

// The options mapped onto one encoder context for one pixel format.
AVCodecContext* NewContext(const EncoderSetup& e, const AVCodec* enc, AVPixelFormat pixels, AVDictionary** opts) {
    AVCodecContext* ctx = avcodec_alloc_context3(enc);
    if (!ctx) return nullptr;
    int num = 1, den = 25;
    if (e.rate && e.scale) av_reduce(&num, &den, e.scale, e.rate, 65535);
    ctx->time_base = {num, den};
    ctx->framerate = {den, num};
    ctx->width = e.width;
    ctx->height = e.height;
    ctx->pix_fmt = pixels;
    ctx->max_b_frames = 0;
    ctx->thread_count = 0;
    ctx->thread_type = FF_THREAD_SLICE;  // frame threads would hold frames back

    const AVICOMPRESSOPTIONS& o = e.options;
    const Codec& codec = e.codec;
    const bool rate = codec.dataRate && (o.dwFlags & AVICOMPRESSF_DATARATE) && o.dwBytesPerSecond > 0;
    if (rate) {
        ctx->bit_rate = int64_t{o.dwBytesPerSecond} * 8;
    } else if (codec.quality != QualityScale::None) {
        const uint32_t q = o.dwQuality <= 10000 ? o.dwQuality : kDefaultQuality;
        if (codec.quality == QualityScale::QScale) {
            ctx->flags |= AV_CODEC_FLAG_QSCALE;
            ctx->global_quality = FF_QP2LAMBDA * QuantiserOfQuality(q);
        } else {
            av_dict_set(opts, "crf", CrfOfQuality(q).c_str(), 0);
        }
    }
    const int every = o.dwKeyFrameEvery > 0 ? static_cast<int>(std::min<uint32_t>(o.dwKeyFrameEvery, kNoKeyInterval))
                                            : kNoKeyInterval;
    if (codec.keyFrames == KeyInterval::Gop) ctx->gop_size = every;
    if (codec.keyFrames == KeyInterval::Deltas) ctx->keyint_min = std::max(1, every - 1);
    // Key frames come where the options put them and where the writer asks,
    // not at the encoder's own scene cuts.
    if (codec.quality == QualityScale::QScale) av_dict_set(opts, "sc_threshold", "1000000000", 0);
    if (std::strcmp(codec.encoder, "libx264") == 0) {
        av_dict_set(opts, "tune", "zerolatency", 0);
        av_dict_set(opts, "forced-idr", "1", 0);
        av_dict_set(opts, "x264-params", "scenecut=0", 0);
    }
    return ctx;
}

// The refusal in words: which encoder, which frame size, and the encoder's reason.
std::string RefusalText(const Codec& codec, int32_t width, int32_t height, const std::string& reason) {
    char text[640];
    std::snprintf(text, sizeof text, "the %s encoder (%s) refused %dx%d frames: %s", codec.name, codec.encoder,
                  static_cast<int>(width), static_cast<int>(height), reason.c_str());
    return text;
}

// x264 takes only whole chroma samples and says so in these words; knowing it
// here spares opening it (which leaks in the library on a refusal).
std::string WholeChromaRefusal(const EncoderSetup& e, AVPixelFormat pixels) {
    if (std::strcmp(e.codec.encoder, "libx264") != 0) return {};
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(pixels);
    if (!d) return {};
    const char* side = nullptr;
    int mod = 1;
    if (e.width % (1 << d->log2_chroma_w) != 0) {
        side = "width";
        mod = 1 << d->log2_chroma_w;
    } else if (e.height % (1 << d->log2_chroma_h) != 0) {
        side = "height";
        mod = 1 << d->log2_chroma_h;
    }
    if (!side) return {};
    char text[96];
    std::snprintf(text, sizeof text, "%s not divisible by %d (%dx%d)", side, mod, static_cast<int>(e.width),
                  static_cast<int>(e.height));
    return text;
}

// The encoder opened for the setup in the first pixel layout it takes; null
// when none (*reason says why) or memory is short (*reason empty).
AVCodecContext* OpenContext(const EncoderSetup& e, std::string* reason) {
    QuietFfmpegLog();
    const AVCodec* enc = avcodec_find_encoder_by_name(e.codec.encoder);
    *reason = "no encoder in this build";
    if (!enc) return nullptr;
    *reason = "no pixel layout it takes fits them";
    for (AVPixelFormat pixels : e.codec.pixels) {
        if (pixels == AV_PIX_FMT_NONE) break;
        if (IsDv(e.codec) && !DvTakes(e.height, pixels)) continue;
        if (std::string whole = WholeChromaRefusal(e, pixels); !whole.empty()) {
            *reason = whole;
            continue;
        }
        AVDictionary* opts = nullptr;
        AVCodecContext* ctx = NewContext(e, enc, pixels, &opts);
        if (!ctx) {
            av_dict_free(&opts);
            reason->clear();
            return nullptr;
        }
        FfmpegComplaint complaint;
        const int r = avcodec_open2(ctx, enc, &opts);
        av_dict_free(&opts);
        if (r >= 0) return ctx;
        char error[AV_ERROR_MAX_STRING_SIZE];
        av_strerror(r, error, sizeof error);
        *reason = complaint.text.empty() ? error : complaint.text;
        avcodec_free_context(&ctx);
    }
    return nullptr;
}

AVIRESULT OpenEncoder(AviCompressor* c) {
    CloseEncoder(c);
    const AviStreamHeader& h = c->target->header;
    std::string reason;
    c->ctx = OpenContext({*c->codec, c->options, c->width, c->height, h.dwRate, h.dwScale}, &reason);
    if (!c->ctx) {
        if (reason.empty()) return AVIERR_MEMORY;
        c->target->file->failure = RefusalText(*c->codec, c->width, c->height, reason);
        return AVIERR_BADFORMAT;  // no pixel layout this encoder takes fits the frames
    }
    const AVPixelFormat pixels = c->ctx->pix_fmt;
    c->frame = av_frame_alloc();
    c->packet = av_packet_alloc();
    c->sws = sws_getContext(c->width, c->height, c->input, c->width, c->height, pixels, SWS_BICUBIC, nullptr, nullptr,
                            nullptr);
    if (!c->frame || !c->packet || !c->sws) {
        CloseEncoder(c);
        return AVIERR_MEMORY;
    }
    c->frame->format = pixels;
    c->frame->width = c->width;
    c->frame->height = c->height;
    if (av_frame_get_buffer(c->frame, 0) < 0) {
        CloseEncoder(c);
        return AVIERR_MEMORY;
    }
    return AVIERR_OK;
}

// The format the encoder produces, as it goes into 'strf'.
std::vector<uint8_t> EncodedFormat(const AviCompressor* c) {
    BITMAPINFOHEADER bi{};
    const int extra = c->ctx->extradata ? c->ctx->extradata_size : 0;
    bi.biSize = static_cast<uint32_t>(sizeof bi + extra);
    bi.biWidth = c->width;
    bi.biHeight = c->height;
    bi.biPlanes = 1;
    bi.biBitCount = static_cast<uint16_t>(c->ctx->bits_per_coded_sample > 0 ? c->ctx->bits_per_coded_sample : 24);
    bi.biCompression = c->stored;
    bi.biSizeImage =
        static_cast<uint32_t>((uint64_t{static_cast<uint32_t>(c->width)} * c->height * bi.biBitCount + 7) / 8);
    std::vector<uint8_t> out(sizeof bi + extra);
    std::memcpy(out.data(), &bi, sizeof bi);
    if (extra) std::memcpy(out.data() + sizeof bi, c->ctx->extradata, extra);
    return out;
}

// One frame through the encoder; exactly one packet comes back.
AVIRESULT Encode(AviCompressor* c, const uint8_t* pixels, bool forceKey) {
    if (av_frame_make_writable(c->frame) < 0) return AVIERR_MEMORY;
    const uint8_t* src[4] = {pixels, nullptr, nullptr, nullptr};
    int srcStride[4] = {static_cast<int>(c->stride), 0, 0, 0};
    if (!c->topDown) {
        // Bottom-up rows: start at the top line and walk backwards.
        src[0] = pixels + size_t{c->stride} * (c->height - 1);
        srcStride[0] = -srcStride[0];
    }
    sws_scale(c->sws, src, srcStride, 0, c->height, c->frame->data, c->frame->linesize);
    c->frame->pts = c->pts++;
    c->frame->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    c->frame->key_frame = forceKey ? 1 : 0;
    c->frame->quality = c->ctx->global_quality;
    int r = avcodec_send_frame(c->ctx, c->frame);
    // No packet would mean the encoder holds frames back, and chunks would no
    // longer match frames.
    if (r >= 0) r = avcodec_receive_packet(c->ctx, c->packet);
    if (r < 0) {
        char error[AV_ERROR_MAX_STRING_SIZE];
        av_strerror(r, error, sizeof error);
        char text[320];
        std::snprintf(text, sizeof text, "the %s encoder (%s) failed on frame %lld: %s", c->codec->name,
                      c->codec->encoder, static_cast<long long>(c->pts - 1), error);
        c->target->file->failure = text;
        return AVIERR_COMPRESSOR;
    }
    return AVIERR_OK;
}

AviStream* Target(PAVISTREAM pavi) {
    if (!pavi || pavi->refs <= 0 || pavi->compressor || !pavi->file || !pavi->file->writer) return nullptr;
    return pavi;
}

}  // namespace

std::vector<AviCompressorInfo> AviListCompressors() {
    std::vector<AviCompressorInfo> list{DibInfo()};
    for (const Codec& c : kCodecs)
        if (Available(c)) list.push_back(InfoOf(c));
    return list;
}

bool AviFindCompressor(uint32_t fccHandler, AviCompressorInfo* info) {
    AviCompressorInfo found;
    if (IsDib(fccHandler)) {
        found = DibInfo();
    } else if (const Codec* c = Lookup(fccHandler)) {
        found = InfoOf(*c);
    } else {
        return false;
    }
    if (info) *info = found;
    return true;
}

AVIRESULT AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM psSource, const AVICOMPRESSOPTIONS* lpOptions,
                                  const void* /*pclsidHandler*/) {
    if (!ppsCompressed) return AVIERR_BADPARAM;
    *ppsCompressed = nullptr;
    if (!psSource || psSource->refs <= 0) return AVIERR_BADHANDLE;
    if (!lpOptions) return AVIERR_BADPARAM;
    AviStream* target = Target(psSource);
    if (!target) return AVIERR_READONLY;
    if (target->header.fccType != streamtypeVIDEO) return AVIERR_UNSUPPORTED;
    const Codec* codec = nullptr;
    if (!IsDib(lpOptions->fccHandler)) {
        codec = Lookup(lpOptions->fccHandler);
        if (!codec) return AVIERR_NOCOMPRESSOR;
    }
    auto* c = new (std::nothrow) AviCompressor{};
    auto* s = new (std::nothrow) AviStream{};
    if (!c || !s) {
        delete c;
        delete s;
        return AVIERR_MEMORY;
    }
    c->options = *lpOptions;
    c->codec = codec;
    c->stored = !codec ? lpOptions->fccHandler : codec->stored ? Code(codec->stored) : Upper(lpOptions->fccHandler);
    c->target = target;
    s->file = target->file;
    s->refs = 1;
    s->number = target->number;
    s->header = target->header;
    s->compressor = c;
    // The compressing stream holds the target stream, and the file for itself.
    ++target->refs;
    ++target->file->refs;
    ++target->file->refs;
    *ppsCompressed = s;
    return AVIERR_OK;
}

namespace {

AVIRESULT CompressorSetFormat(AviStream* s, const void* format, int32_t size) {
    AviCompressor* c = s->compressor;
    const auto* p = static_cast<const uint8_t*>(format);
    const size_t n = static_cast<size_t>(size);
    if (n < sizeof(BITMAPINFOHEADER)) return AVIERR_BADFORMAT;
    if (c->target->file->writer->started) {
        return c->formatSet && s->format.size() == n && std::memcmp(s->format.data(), p, n) == 0 ? AVIERR_OK
                                                                                                 : AVIERR_UNSUPPORTED;
    }
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, p, sizeof bi);
    const int64_t w = bi.biWidth;
    const int64_t h = bi.biHeight < 0 ? -int64_t{bi.biHeight} : int64_t{bi.biHeight};
    if (bi.biSize < sizeof bi || bi.biSize > n || w <= 0 || h <= 0 || w > kAviMaxFrameSide || h > kAviMaxFrameSide ||
        static_cast<uint64_t>(w * h) > kAviMaxFramePixels)
        return AVIERR_BADFORMAT;

    AVIRESULT r;
    if (!c->codec) {
        r = AVIStreamSetFormat(c->target, 0, format, size);
    } else {
        if (bi.biCompression != BI_RGB || (bi.biBitCount != 24 && bi.biBitCount != 32)) return AVIERR_BADFORMAT;
        c->width = static_cast<int32_t>(w);
        c->height = static_cast<int32_t>(h);
        c->topDown = bi.biHeight < 0;
        c->stride = ((static_cast<uint32_t>(w) * bi.biBitCount + 31) / 32) * 4;
        c->input = bi.biBitCount == 24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGR0;
        if (IsDv(*c->codec)) {
            std::string why = DvRefusal(c->width, c->height, c->target->header.dwRate, c->target->header.dwScale);
            if (!why.empty()) {
                c->target->file->failure = std::move(why);
                return AVIERR_BADFORMAT;
            }
        }
        r = OpenEncoder(c);
        if (r == AVIERR_BADFORMAT) {
            char why[120];
            std::snprintf(why, sizeof why, "%s can't take frames of %dx%d", c->codec->name, static_cast<int>(c->width),
                          static_cast<int>(c->height));
            if (c->target->file->failure.empty()) c->target->file->failure = why;
        }
        if (r != AVIERR_OK) return r;
        try {
            const std::vector<uint8_t> encoded = EncodedFormat(c);
            r = AVIStreamSetFormat(c->target, 0, encoded.data(), static_cast<int32_t>(encoded.size()));
        } catch (const std::bad_alloc&) {
            r = AVIERR_MEMORY;
        }
        if (r == AVIERR_OK) c->target->header.fccHandler = c->stored;
    }
    if (r != AVIERR_OK) return r;
    try {
        s->format.assign(p, p + n);
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
    c->formatSet = true;
    return AVIERR_OK;
}

AVIRESULT CompressorWrite(AviStream* s, int32_t start, int32_t samples, const void* data, int32_t size, uint32_t flags,
                          int32_t* samplesWritten, int32_t* bytesWritten) {
    AviCompressor* c = s->compressor;
    if (!c->formatSet) return AVIERR_BADFORMAT;
    // Every frame of an uncompressed stream is a key frame.
    if (!c->codec)
        return AVIStreamWrite(c->target, start, samples, data, size, AVIIF_KEYFRAME, samplesWritten, bytesWritten);
    if (samples != 1) return AVIERR_BADPARAM;
    if (start != -1 && static_cast<uint32_t>(start) != c->target->header.dwLength) return AVIERR_UNSUPPORTED;
    if (static_cast<uint64_t>(size) < uint64_t{c->stride} * c->height) return AVIERR_BADSIZE;
    const auto* pixels = static_cast<const uint8_t*>(data);
    const bool force = (flags & AVIIF_KEYFRAME) != 0;
    AVIRESULT r = Encode(c, pixels, force);
    if (r == AVIERR_OK && force && !(c->packet->flags & AV_PKT_FLAG_KEY)) {
        // An encoder that keeps its own key frame rhythm starts afresh: its first
        // frame is always a key frame.
        av_packet_unref(c->packet);
        const int64_t pts = c->pts;
        r = OpenEncoder(c);
        c->pts = pts - 1;
        if (r == AVIERR_OK) r = Encode(c, pixels, true);
    }
    if (r != AVIERR_OK) return r;
    uint64_t grew = 0;
    r = AviWriterAppend(c->target, c->packet->data, static_cast<uint32_t>(c->packet->size), 1,
                        (c->packet->flags & AV_PKT_FLAG_KEY) != 0, &grew);
    av_packet_unref(c->packet);
    if (r != AVIERR_OK) return r;
    s->header.dwLength = c->target->header.dwLength;
    if (samplesWritten) *samplesWritten = 1;
    if (bytesWritten) *bytesWritten = static_cast<int32_t>(std::min<uint64_t>(grew, INT32_MAX));
    return AVIERR_OK;
}

}  // namespace

// The two calls that write a stream: a compressing stream's go through its
// compressor, a plain stream's straight to the writer.
AVIRESULT AVIStreamSetFormat(PAVISTREAM pavi, int32_t lPos, const void* lpFormat, int32_t cbFormat) {
    if (!pavi || pavi->refs <= 0) return AVIERR_BADHANDLE;
    if (!lpFormat || cbFormat <= 0 || static_cast<size_t>(cbFormat) > kAviMaxFormat) return AVIERR_BADPARAM;
    if (lPos != 0) return AVIERR_UNSUPPORTED;
    if (pavi->compressor) return CompressorSetFormat(pavi, lpFormat, cbFormat);
    return AviWriterSetFormat(pavi, lpFormat, cbFormat);
}

AVIRESULT AVIStreamWrite(PAVISTREAM pavi, int32_t lStart, int32_t lSamples, const void* lpBuffer, int32_t cbBuffer,
                         uint32_t dwFlags, int32_t* plSampWritten, int32_t* plBytesWritten) {
    if (plSampWritten) *plSampWritten = 0;
    if (plBytesWritten) *plBytesWritten = 0;
    if (!pavi || pavi->refs <= 0) return AVIERR_BADHANDLE;
    if (cbBuffer < 0 || (cbBuffer > 0 && !lpBuffer) || lSamples < 0) return AVIERR_BADPARAM;
    if (pavi->compressor)
        return CompressorWrite(pavi, lStart, lSamples, lpBuffer, cbBuffer, dwFlags, plSampWritten, plBytesWritten);
    return AviWriterWrite(pavi, lStart, lSamples, lpBuffer, cbBuffer, dwFlags, plSampWritten, plBytesWritten);
}

int QuantiserOfQuality(uint32_t quality) { return 31 - static_cast<int>((quality * 29 + 5000) / 10000); }

std::string CrfOfQuality(uint32_t quality) {
    char crf[16];
    std::snprintf(crf, sizeof crf, "%.2f", 51.0 * (10000 - quality) / 10000.0);
    return crf;
}

std::string AviCompressorRefusal(uint32_t fccHandler, int32_t width, int32_t height, uint32_t rate, uint32_t scale,
                                 const AVICOMPRESSOPTIONS* options) {
    const Codec* c = IsDib(fccHandler) ? nullptr : Lookup(fccHandler);
    if (!c) return {};
    if (IsDv(*c)) return DvRefusal(width, height, rate, scale);
    // Anything else: the encoder opened and closed again, as it will be.
    AVICOMPRESSOPTIONS defaults{};
    defaults.dwQuality = kDefaultQuality;
    std::string reason;
    AVCodecContext* ctx = OpenContext({*c, options ? *options : defaults, width, height, rate, scale}, &reason);
    if (ctx) {
        avcodec_free_context(&ctx);
        return {};
    }
    if (reason.empty()) return {};  // memory: the run itself will say so
    return RefusalText(*c, width, height, reason);
}

void AviCompressorDestroy(AviStream* s) {
    AviCompressor* c = s->compressor;
    CloseEncoder(c);
    AVIStreamRelease(c->target);
    delete c;
    delete s;
}
