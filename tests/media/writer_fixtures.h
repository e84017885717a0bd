// Helpers for the writer's tests: write a clip the way the destination writer
// does, walk the RIFF bytes of the result, and ask ffprobe about it.
#pragma once

#include "tests/media/avi_fixtures.h"

#include <cstdint>
#include <string>
#include <vector>

struct ClipSpec {
    uint32_t fcc = mmioFOURCC('D', 'I', 'B', ' ');
    int32_t width = 64;
    int32_t height = 48;
    uint32_t rate = 25;
    uint32_t scale = 1;
    int frames = 10;
    // Frames flagged AVIIF_KEYFRAME: every forceEvery-th (0: only the first),
    // plus any listed in forceAt.
    uint32_t forceEvery = 0;
    std::vector<int> forceAt;
    uint32_t quality = 10000;
    uint32_t keyFrameEvery = 0;   // the options' dwKeyFrameEvery
    uint32_t bytesPerSecond = 0;  // with AVICOMPRESSF_DATARATE when not 0
    // Audio: PCM written after each frame, samplesPerChunk samples each.
    bool audio = false;
    uint16_t channels = 1;
    uint16_t bits = 8;
    uint32_t sampleRate = 11025;
    uint32_t samplesPerChunk = 441;
};

struct ClipResult {
    AVIRESULT status = AVIERR_OK;  // the first failure, if any
    int framesWritten = 0;
    uint64_t reported = 0;        // sum of the bytes AVIStreamWrite reported
    std::vector<Bytes> pictures;  // bottom-up padded, as written
    Bytes audio;                  // every audio byte written, in order
};

// A smooth moving picture (lossy codecs have something fair to work on).
Bytes SmoothPicture(int32_t width, int32_t height, int n);

// Writes the clip; the file is complete when this returns.
ClipResult WriteClip(const std::string& path, const ClipSpec& spec);

// One chunk of a RIFF form or list, by absolute offsets.
struct RiffChunk {
    uint32_t id;
    uint32_t type;  // for RIFF and LIST
    uint64_t at;    // header offset
    uint32_t size;
};

// The chunks directly inside [start, end), stepping over padding.
std::vector<RiffChunk> RiffChildren(const Bytes& file, uint64_t start, uint64_t end);
uint32_t Get32(const Bytes& b, size_t at);
std::string FccText(uint32_t fcc);

// stdout of a shell command; rc receives its exit status.
std::string Capture(const std::string& cmd, int* rc = nullptr);
// ffprobe's value of one entry, e.g. ("stream", "codec_tag_string", "v:0").
std::string Probe(const std::string& path, const std::string& section, const std::string& entry,
                  const std::string& select = "v:0", bool countFrames = false);
// Per video packet in file order: 'K' for a key frame, '_' otherwise.
std::string ProbeKeyFlags(const std::string& path);
// ffmpeg's complaints while decoding every stream; empty when clean.
std::string DecodeErrors(const std::string& path);

// An open destination with one video stream and its compressing stream.
struct Destination {
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
    PAVISTREAM compressed = nullptr;

    AVIRESULT Open(const std::string& path, uint32_t fcc, int32_t width = 64, int32_t height = 48,
                   uint32_t sampleSize = 0, uint32_t rate = 25, uint32_t scale = 1) {
        AVIRESULT r = AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr);
        if (r != AVIERR_OK) return r;
        AVISTREAMINFOA vi{};
        vi.fccType = streamtypeVIDEO;
        vi.dwScale = scale;
        vi.dwRate = rate;
        vi.rcFrame = {0, 0, width, height};
        vi.dwSampleSize = sampleSize;
        if ((r = AVIFileCreateStreamA(file, &video, &vi)) != AVIERR_OK) return r;
        AVICOMPRESSOPTIONS o{};
        o.fccType = streamtypeVIDEO;
        o.fccHandler = fcc;
        o.dwQuality = 7500;
        return AVIMakeCompressedStream(&compressed, video, &o, nullptr);
    }
    // The last release completes the file.
    void Close() {
        if (compressed) AVIStreamRelease(compressed);
        if (video) AVIStreamRelease(video);
        if (file) AVIFileRelease(file);
        compressed = video = nullptr;
        file = nullptr;
    }
    ~Destination() { Close(); }
};

inline AVIRESULT SetFrameFormat(PAVISTREAM s, int32_t width, int32_t height, uint16_t bits = 24,
                                uint32_t compression = BI_RGB) {
    const Bytes bi = BitmapFormat(width, height, bits, compression);
    return AVIStreamSetFormat(s, 0, bi.data(), static_cast<int32_t>(bi.size()));
}

inline AVIRESULT WriteFrame(PAVISTREAM s, int32_t pos, const Bytes& picture, int32_t* bytes = nullptr) {
    return AVIStreamWrite(s, pos, 1, picture.data(), static_cast<int32_t>(picture.size()), AVIIF_KEYFRAME, nullptr,
                          bytes);
}

// The description our reader gives of the first stream of `type` in a file.
AVISTREAMINFOA StoredStreamInfo(const std::string& path, uint32_t type);
