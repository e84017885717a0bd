#include "tests/media/writer_fixtures.h"

#include <cmath>
#include <cstdio>
#include <cstring>

Bytes SmoothPicture(int32_t width, int32_t height, int n) {
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    Bytes b(stride * height, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = &b[y * stride + x * 3];
            p[0] = static_cast<uint8_t>(128 + 90 * std::sin((x + 2.0 * n) / 9.0));
            p[1] = static_cast<uint8_t>(128 + 90 * std::cos((y + 1.0 * n) / 7.0));
            p[2] = static_cast<uint8_t>((x + y) * 200 / (width + height) + 20);
        }
    return b;
}

ClipResult WriteClip(const std::string& path, const ClipSpec& spec) {
    ClipResult out;
    auto fail = [&](AVIRESULT r) {
        if (out.status == AVIERR_OK) out.status = r;
    };
    PAVIFILE file = nullptr;
    AVIRESULT r = AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr);
    if (r != AVIERR_OK) {
        out.status = r;
        return out;
    }
    AVISTREAMINFOA vi{};
    vi.fccType = streamtypeVIDEO;
    vi.fccHandler = spec.fcc;
    vi.dwScale = spec.scale;
    vi.dwRate = spec.rate;
    vi.dwQuality = spec.quality;
    vi.rcFrame = {0, 0, spec.width, spec.height};
    std::snprintf(vi.szName, sizeof vi.szName, "video");
    PAVISTREAM video = nullptr, compressed = nullptr, audio = nullptr;
    r = AVIFileCreateStreamA(file, &video, &vi);
    if (r == AVIERR_OK) {
        AVICOMPRESSOPTIONS o{};
        o.fccType = streamtypeVIDEO;
        o.fccHandler = spec.fcc;
        o.dwQuality = spec.quality;
        o.dwKeyFrameEvery = spec.keyFrameEvery;
        o.dwBytesPerSecond = spec.bytesPerSecond;
        o.dwFlags = AVICOMPRESSF_VALID | (spec.keyFrameEvery ? AVICOMPRESSF_KEYFRAMES : 0) |
                    (spec.bytesPerSecond ? AVICOMPRESSF_DATARATE : 0);
        r = AVIMakeCompressedStream(&compressed, video, &o, nullptr);
    }
    if (r == AVIERR_OK) {
        // The 44-byte frame format the destination writer sets.
        uint8_t format[44] = {};
        const Bytes bi = BitmapFormat(spec.width, spec.height, 24, BI_RGB);
        std::memcpy(format, bi.data(), bi.size());
        r = AVIStreamSetFormat(compressed, 0, format, sizeof format);
    }
    if (r == AVIERR_OK && spec.audio) {
        AVISTREAMINFOA ai{};
        ai.fccType = streamtypeAUDIO;
        ai.dwScale = spec.channels * spec.bits / 8;
        ai.dwRate = spec.sampleRate * ai.dwScale;
        ai.dwSampleSize = ai.dwScale;
        r = AVIFileCreateStreamA(file, &audio, &ai);
        if (r == AVIERR_OK) {
            const Bytes wf = PcmFormat(spec.channels, spec.sampleRate, spec.bits, true);
            r = AVIStreamSetFormat(audio, 0, wf.data(), static_cast<int32_t>(wf.size()));
        }
    }
    fail(r);
    const uint32_t block = spec.channels * spec.bits / 8;
    for (int n = 0; out.status == AVIERR_OK && n < spec.frames; ++n) {
        Bytes picture = SmoothPicture(spec.width, spec.height, n);
        bool key = n == 0 || (spec.forceEvery && n % spec.forceEvery == 0);
        for (int k : spec.forceAt) key = key || k == n;
        int32_t samples = 0, bytes = 0;
        r = AVIStreamWrite(compressed, n, 1, picture.data(), static_cast<int32_t>(picture.size()),
                           key ? AVIIF_KEYFRAME : 0, &samples, &bytes);
        if (r != AVIERR_OK) {
            fail(r);
            break;
        }
        out.reported += static_cast<uint32_t>(bytes);
        out.pictures.push_back(std::move(picture));
        ++out.framesWritten;
        if (audio) {
            Bytes chunk(spec.samplesPerChunk * block);
            for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(out.audio.size() + i * 3);
            r = AVIStreamWrite(audio, n * static_cast<int32_t>(spec.samplesPerChunk), spec.samplesPerChunk,
                               chunk.data(), static_cast<int32_t>(chunk.size()), 0, &samples, &bytes);
            if (r != AVIERR_OK) {
                fail(r);
                break;
            }
            out.reported += static_cast<uint32_t>(bytes);
            out.audio.insert(out.audio.end(), chunk.begin(), chunk.end());
        }
    }
    AVIStreamRelease(audio);
    AVIStreamRelease(compressed);
    AVIStreamRelease(video);
    AVIFileRelease(file);
    return out;
}

uint32_t Get32(const Bytes& b, size_t at) {
    uint32_t v = 0;
    if (at + 4 <= b.size()) std::memcpy(&v, b.data() + at, 4);
    return v;
}

std::string FccText(uint32_t fcc) {
    std::string s(4, ' ');
    std::memcpy(s.data(), &fcc, 4);
    return s;
}

std::vector<RiffChunk> RiffChildren(const Bytes& file, uint64_t start, uint64_t end) {
    std::vector<RiffChunk> out;
    uint64_t pos = start;
    while (pos + 8 <= end && pos + 8 <= file.size()) {
        RiffChunk c{Get32(file, pos), 0, pos, Get32(file, pos + 4)};
        if (c.id == mmioFOURCC('R', 'I', 'F', 'F') || c.id == mmioFOURCC('L', 'I', 'S', 'T'))
            c.type = Get32(file, pos + 8);
        out.push_back(c);
        pos += 8 + uint64_t{c.size} + (c.size & 1);
    }
    return out;
}

std::string Capture(const std::string& cmd, int* rc) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        if (rc) *rc = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    if (rc) *rc = status;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string Probe(const std::string& path, const std::string& section, const std::string& entry,
                  const std::string& select, bool countFrames) {
    return Capture("ffprobe -v error " + std::string(countFrames ? "-count_frames " : "") +
                   (select.empty() ? "" : "-select_streams " + select + " ") + "-show_entries " + section + "=" +
                   entry + " -of default=nw=1:nk=1 '" + path + "' 2>/dev/null");
}

std::string ProbeKeyFlags(const std::string& path) {
    const std::string lines = Capture("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" +
                                      path + "' 2>/dev/null");
    std::string flags;
    size_t start = 0;
    while (start < lines.size()) {
        size_t end = lines.find('\n', start);
        if (end == std::string::npos) end = lines.size();
        flags += lines.compare(start, 1, "K") == 0 ? 'K' : '_';
        start = end + 1;
    }
    return flags;
}

std::string DecodeErrors(const std::string& path) {
    int rc = 0;
    std::string errors = Capture("ffmpeg -nostdin -hide_banner -v error -xerror -i '" + path + "' -f null - 2>&1", &rc);
    if (rc != 0 && errors.empty()) errors = "ffmpeg failed";
    return errors;
}

AVISTREAMINFOA StoredStreamInfo(const std::string& path, uint32_t type) {
    AVISTREAMINFOA info{};
    PAVIFILE r = nullptr;
    if (AVIFileOpenA(&r, path.c_str(), OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) return info;
    PAVISTREAM s = nullptr;
    if (AVIFileGetStream(r, &s, type, 0) == AVIERR_OK) {
        AVIStreamInfoA(s, &info, sizeof info);
        AVIStreamRelease(s);
    }
    AVIFileRelease(r);
    return info;
}
