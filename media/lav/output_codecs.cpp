#include "media/lav/output_codecs.h"

#include <cctype>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

std::uint32_t Code(const char* s) { return mmioFOURCC(s[0], s[1], s[2], s[3]); }

struct LavCodec {
    const char* fcc;
    const char* encoder;
    AVPixelFormat pixels;
    const char* name;  // null: named as in the AVI list
    bool quality, keyFrames, dataRate, lossless;
};

// Planar and packed RGB stay RGB; everything else is 4:2:0 but ProRes,
// which is 4:2:2 10-bit by definition.
const LavCodec kLavCodecs[] = {
    {"DIB ", "rawvideo", AV_PIX_FMT_BGR24, nullptr, false, false, false, true},
    {"MJPG", "mjpeg", AV_PIX_FMT_YUVJ420P, nullptr, true, false, true, false},
    {"FFV1", "ffv1", AV_PIX_FMT_BGR0, nullptr, false, true, false, true},
    {"HFYU", "huffyuv", AV_PIX_FMT_RGB24, nullptr, false, false, false, true},
    {"UTVD", "utvideo", AV_PIX_FMT_GBRP, nullptr, false, false, false, true},
    {"MAGY", "magicyuv", AV_PIX_FMT_GBRP, nullptr, false, false, false, true},
    {"FMP4", "mpeg4", AV_PIX_FMT_YUV420P, nullptr, true, true, true, false},
    {"H264", "libx264", AV_PIX_FMT_YUV420P, nullptr, true, true, true, false},
    {"HEVC", "libx265", AV_PIX_FMT_YUV420P, "H.265 (x265)", true, true, true, false},
    {"AV01", "libsvtav1", AV_PIX_FMT_YUV420P, "AV1 (SVT-AV1)", true, true, true, false},
    {"VP90", "libvpx-vp9", AV_PIX_FMT_YUV420P, "VP9 (libvpx)", true, true, true, false},
    {"APCN", "prores_ks", AV_PIX_FMT_YUV422P10LE, "Apple ProRes 422", true, false, false, false},
};

std::uint32_t Upper(std::uint32_t fcc) {
    std::uint32_t out = 0;
    for (int i = 0; i < 4; ++i)
        out |= static_cast<std::uint32_t>(std::toupper(static_cast<int>((fcc >> (8 * i)) & 0xff))) << (8 * i);
    return out;
}

const LavCodec* LookupLav(std::uint32_t fcc) {
    if (fcc == 0) fcc = Code("DIB ");
    AviCompressorInfo avi{};
    if (AviFindCompressor(fcc, &avi)) fcc = avi.fccHandler;  // aliases: X264 is H264
    for (const LavCodec& c : kLavCodecs)
        if (Upper(Code(c.fcc)) == Upper(fcc)) return avcodec_find_encoder_by_name(c.encoder) ? &c : nullptr;
    return nullptr;
}

const char* MuxerName(OutputContainer c) {
    switch (c) {
        case OutputContainer::mkv: return "matroska";
        case OutputContainer::mp4: return "mp4";
        case OutputContainer::mov: return "mov";
        case OutputContainer::webm: return "webm";
        default: return "avi";
    }
}

bool Takes(OutputContainer container, const char* encoderName) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(encoderName);
    // The MOV muxer lists AV1, VP9, Opus and FLAC but refuses them when the
    // header is written; so does MP4 with FLAC.
    if (encoder && container == OutputContainer::mov &&
        (encoder->id == AV_CODEC_ID_AV1 || encoder->id == AV_CODEC_ID_VP9 || encoder->id == AV_CODEC_ID_OPUS ||
         encoder->id == AV_CODEC_ID_FLAC))
        return false;
    if (encoder && container == OutputContainer::mp4 && encoder->id == AV_CODEC_ID_FLAC) return false;
    const AVOutputFormat* format = av_guess_format(MuxerName(container), nullptr, nullptr);
    return encoder && format && avformat_query_codec(format, encoder->id, FF_COMPLIANCE_NORMAL) == 1;
}

AviCompressorInfo InfoOf(const LavCodec& c) {
    AviCompressorInfo info{};
    if (!c.name && AviFindCompressor(Code(c.fcc), &info)) return info;
    info.fccHandler = Code(c.fcc);
    std::snprintf(info.name, sizeof info.name, "%s", c.name ? c.name : c.fcc);
    info.quality = c.quality;
    info.keyFrames = c.keyFrames;
    info.dataRate = c.dataRate;
    info.lossless = c.lossless;
    return info;
}

}  // namespace

OutputContainer OutputContainerOf(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return OutputContainer::avi;
    std::string ext = path.substr(dot + 1);
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    OutputContainer c = OutputContainer::avi;
    return ParseOutputContainer(ext, &c) ? c : OutputContainer::avi;
}

bool ParseOutputContainer(const std::string& name, OutputContainer* container) {
    for (OutputContainer c : {OutputContainer::avi, OutputContainer::mkv, OutputContainer::mp4, OutputContainer::mov,
                              OutputContainer::webm})
        if (name == OutputContainerName(c)) return *container = c, true;
    return false;
}

const char* OutputContainerName(OutputContainer c) {
    switch (c) {
        case OutputContainer::mkv: return "mkv";
        case OutputContainer::mp4: return "mp4";
        case OutputContainer::mov: return "mov";
        case OutputContainer::webm: return "webm";
        default: return "avi";
    }
}

std::vector<AviCompressorInfo> ListOutputCompressors(OutputContainer container) {
    if (container == OutputContainer::avi) return AviListCompressors();
    std::vector<AviCompressorInfo> list;
    for (const AviCompressorInfo& info : AviListCompressors())
        if (ContainerTakesCompressor(container, info.fccHandler)) list.push_back(info);
    for (const LavCodec& c : kLavCodecs)
        if (c.name && ContainerTakesCompressor(container, Code(c.fcc))) list.push_back(InfoOf(c));
    return list;
}

bool FindOutputCompressor(std::uint32_t fcc, AviCompressorInfo* info) {
    if (AviFindCompressor(fcc, info)) return true;
    const LavCodec* c = LookupLav(fcc);
    if (!c) return false;
    *info = InfoOf(*c);
    return true;
}

bool ContainerTakesCompressor(OutputContainer container, std::uint32_t fcc) {
    if (container == OutputContainer::avi) {
        AviCompressorInfo info{};
        return AviFindCompressor(fcc, &info);
    }
    const LavCodec* c = LookupLav(fcc);
    return c && Takes(container, c->encoder);
}

bool FindOutputEncoder(std::uint32_t fcc, OutputEncoder* encoder) {
    const LavCodec* c = LookupLav(fcc);
    if (!c) return false;
    encoder->encoder = c->encoder;
    encoder->pixelFormat = c->pixels;
    return true;
}

bool ParseAudioChoice(const std::string& name, AudioChoice* choice) {
    const std::pair<const char*, AudioChoice> names[] = {{"auto", AudioChoice::automatic}, {"pcm", AudioChoice::pcm},
                                                         {"flac", AudioChoice::flac},      {"aac", AudioChoice::aac},
                                                         {"opus", AudioChoice::opus},      {"copy", AudioChoice::copy}};
    for (const auto& [text, value] : names)
        if (name == text) return *choice = value, true;
    return false;
}

const char* AudioCodecName(AudioCodec codec) {
    switch (codec) {
        case AudioCodec::pcm: return "pcm_s16le";
        case AudioCodec::flac: return "flac";
        case AudioCodec::aac: return "aac";
        case AudioCodec::opus: return "libopus";
        default: return "";
    }
}

AudioCodec ChooseAudioCodec(OutputContainer container, AudioChoice choice, const std::string& sourceCodec) {
    std::string source = sourceCodec;
    for (char& ch : source) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    // Described by name, short or long ("AAC (Advanced Audio Coding)").
    const auto is = [&](const char* name) { return source.rfind(name, 0) == 0; };
    const AudioCodec own = is("pcm")    ? AudioCodec::pcm
                           : is("flac") ? AudioCodec::flac
                           : is("aac")  ? AudioCodec::aac
                           : is("opus") ? AudioCodec::opus
                                        : AudioCodec::none;
    const auto takes = [&](AudioCodec c) {
        return c != AudioCodec::none && container != OutputContainer::avi && Takes(container, AudioCodecName(c));
    };
    AudioCodec wanted = AudioCodec::none;
    switch (choice) {
        case AudioChoice::pcm: wanted = AudioCodec::pcm; break;
        case AudioChoice::flac: wanted = AudioCodec::flac; break;
        case AudioChoice::aac: wanted = AudioCodec::aac; break;
        case AudioChoice::opus: wanted = AudioCodec::opus; break;
        case AudioChoice::copy: wanted = own; break;
        case AudioChoice::automatic:
            if (takes(own)) return own;
            wanted = container == OutputContainer::mp4 || container == OutputContainer::mov ? AudioCodec::aac
                                                                                            : AudioCodec::opus;
            break;
    }
    return takes(wanted) ? wanted : AudioCodec::none;
}

bool CarriedAsStoredByDefault(OutputContainer container, int codecId) {
    if (container == OutputContainer::mkv || container == OutputContainer::webm) return true;
    if (container != OutputContainer::mp4 && container != OutputContainer::mov) return false;
    switch (static_cast<AVCodecID>(codecId)) {
        case AV_CODEC_ID_AAC:
        case AV_CODEC_ID_MP3:
        case AV_CODEC_ID_AC3:
        case AV_CODEC_ID_EAC3:
        case AV_CODEC_ID_ALAC: return true;
        case AV_CODEC_ID_OPUS: return container == OutputContainer::mp4;
        case AV_CODEC_ID_PCM_S8: return false;
        default: return container == OutputContainer::mov && IsPlainPcm(codecId);
    }
}

bool IsPlainPcm(int codecId) {
    switch (static_cast<AVCodecID>(codecId)) {
        case AV_CODEC_ID_PCM_U8:
        case AV_CODEC_ID_PCM_S8:
        case AV_CODEC_ID_PCM_S16LE:
        case AV_CODEC_ID_PCM_S16BE:
        case AV_CODEC_ID_PCM_S24LE:
        case AV_CODEC_ID_PCM_S24BE:
        case AV_CODEC_ID_PCM_S32LE:
        case AV_CODEC_ID_PCM_S32BE:
        case AV_CODEC_ID_PCM_F32LE:
        case AV_CODEC_ID_PCM_F32BE:
        case AV_CODEC_ID_PCM_F64LE:
        case AV_CODEC_ID_PCM_F64BE: return true;
        default: return false;
    }
}
