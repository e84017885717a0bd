// How fast the destination is written: "DIB " frames to the page cache beside
// a memcpy of the same bytes, and each encoder against the ffmpeg tool
// encoding the same frames with the same settings, in one run.
//
//   vfw_writer_bench [folder] [frames]      (folder: /dev/shm by default)
#include "frames/geometry.h"
#include "media/vfw/compressor.h"
#include "media/vfw/vfw.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

uint32_t Stride(int32_t width) { return static_cast<uint32_t>(RowStride(width)); }

std::vector<uint8_t> Picture(int32_t width, int32_t height, int n) {
    const uint32_t stride = Stride(width);
    std::vector<uint8_t> b(size_t{stride} * height, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = &b[size_t{stride} * y + x * 3];
            p[0] = static_cast<uint8_t>(128 + 90 * std::sin((x + 4.0 * n) / 23.0));
            p[1] = static_cast<uint8_t>(128 + 90 * std::cos((y + 2.0 * n) / 17.0));
            p[2] = static_cast<uint8_t>((x + y + n) * 200 / (width + height) + 20);
        }
    return b;
}

struct Options {
    uint32_t fcc;
    uint32_t quality;
    uint32_t keyEvery;
};

// Writes frames through a compressing stream as the pipeline does; seconds spent.
double WriteFile(const std::string& path, const Options& o, int32_t width, int32_t height,
                 const std::vector<std::vector<uint8_t>>& pictures, int frames, uint64_t* bytes) {
    const auto start = Clock::now();
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr, compressed = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) return -1;
    AVISTREAMINFOA vi{};
    vi.fccType = streamtypeVIDEO;
    vi.fccHandler = o.fcc;
    vi.dwScale = 1;
    vi.dwRate = 25;
    vi.rcFrame = {0, 0, width, height};
    AVICOMPRESSOPTIONS co{};
    co.fccType = streamtypeVIDEO;
    co.fccHandler = o.fcc;
    co.dwQuality = o.quality;
    co.dwKeyFrameEvery = o.keyEvery;
    co.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = width;
    bi.biHeight = height;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biSizeImage = Stride(width) * height;
    uint8_t format[44] = {};
    std::memcpy(format, &bi, sizeof bi);
    if (AVIFileCreateStreamA(file, &video, &vi) != AVIERR_OK ||
        AVIMakeCompressedStream(&compressed, video, &co, nullptr) != AVIERR_OK ||
        AVIStreamSetFormat(compressed, 0, format, sizeof format) != AVIERR_OK)
        return -1;
    uint64_t total = 0;
    for (int n = 0; n < frames; ++n) {
        const auto& p = pictures[n % pictures.size()];
        int32_t written = 0;
        const bool key = o.keyEvery ? n % o.keyEvery == 0 : n == 0;
        if (AVIStreamWrite(compressed, n, 1, p.data(), static_cast<int32_t>(p.size()), key ? AVIIF_KEYFRAME : 0,
                           nullptr, &written) != AVIERR_OK)
            return -1;
        total += static_cast<uint32_t>(written);
    }
    AVIStreamRelease(compressed);
    AVIStreamRelease(video);
    AVIFileRelease(file);
    if (bytes) *bytes = total;
    return Seconds(start);
}

// The ffmpeg tool's arguments for the same encoder settings as our mapping of
// quality 7500 and a key frame every 25 frames.
const char* ToolArguments(const std::string& fcc) {
    if (fcc == "MJPG") return "-c:v mjpeg -pix_fmt yuvj420p -q:v 9";
    if (fcc == "FFV1") return "-c:v ffv1 -pix_fmt bgr0 -g 25";
    if (fcc == "HFYU") return "-c:v huffyuv -pix_fmt rgb24";
    if (fcc == "UTVD") return "-c:v utvideo -pix_fmt gbrp";
    if (fcc == "MAGY") return "-c:v magicyuv -pix_fmt gbrp";
    if (fcc == "FMP4") return "-c:v mpeg4 -pix_fmt yuv420p -q:v 9 -g 25 -bf 0 -sc_threshold 1000000000";
    if (fcc == "DIV3") return "-c:v msmpeg4 -pix_fmt yuv420p -q:v 9 -g 25 -bf 0 -sc_threshold 1000000000";
    if (fcc == "H264")
        return "-c:v libx264 -pix_fmt yuv420p -crf 12.75 -g 25 -bf 0 -tune zerolatency -forced-idr 1 "
               "-x264-params scenecut=0";
    if (fcc == "CVID") return "-c:v cinepak -pix_fmt rgb24 -g 25";
    if (fcc == "MSVC") return "-c:v msvideo1 -pix_fmt rgb555le -keyint_min 24";
    if (fcc == "dvsd") return "-c:v dvvideo -pix_fmt yuv420p";
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/dev/shm";
    const int dibFrames = argc > 2 ? std::atoi(argv[2]) : 240;
    const std::string path = dir + "/tavrick-bench.avi";

    // Uncompressed 1920x1080: the writer against a plain copy of the same bytes.
    {
        const int32_t w = 1920, h = 1080;
        std::vector<std::vector<uint8_t>> pictures = {Picture(w, h, 0), Picture(w, h, 1)};
        const double frameBytes = static_cast<double>(pictures[0].size());
        std::vector<uint8_t> target(pictures[0].size());
        const auto copyStart = Clock::now();
        for (int n = 0; n < dibFrames; ++n) std::memcpy(target.data(), pictures[n % 2].data(), target.size());
        const double copy = Seconds(copyStart);
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            std::remove(path.c_str());
            const double t =
                WriteFile(path, {mmioFOURCC('D', 'I', 'B', ' '), 10000, 0}, w, h, pictures, dibFrames, nullptr);
            if (t < 0) {
                std::fprintf(stderr, "writing %s failed\n", path.c_str());
                return 1;
            }
            best = std::min(best, t);
        }
        std::remove(path.c_str());
        std::printf("DIB 1920x1080, %d frames (%.2f GB) into %s: %.2f GB/s written (best of 3), memcpy %.2f GB/s\n",
                    dibFrames, dibFrames * frameBytes / 1e9, dir.c_str(), dibFrames * frameBytes / best / 1e9,
                    dibFrames * frameBytes / copy / 1e9);
    }

    // Encoders: 1280x720 (DV 720x576; Cinepak, a hundred times slower than the
    // rest, 320x240), our stream against the tool.
    const int frames = 60;
    std::printf("\n%-5s %9s %9s %8s  (%d frames; tool: ffmpeg reading the same frames as raw BGR)\n", "code", "ours s",
                "tool s", "ours/tool", frames);
    for (const AviCompressorInfo& c : AviListCompressors()) {
        const std::string fcc(reinterpret_cast<const char*>(&c.fccHandler), 4);
        const char* tool = ToolArguments(fcc);
        if (!tool) continue;
        const bool dv = fcc == "dvsd", cvid = fcc == "CVID";
        const int32_t w = dv ? 720 : cvid ? 320 : 1280, h = dv ? 576 : cvid ? 240 : 720;
        std::vector<std::vector<uint8_t>> pictures;
        for (int n = 0; n < frames; ++n) pictures.push_back(Picture(w, h, n));
        // The same frames, top-down and unpadded, for the tool.
        const std::string raw = dir + "/tavrick-bench.bgr";
        if (FILE* f = std::fopen(raw.c_str(), "wb")) {
            for (const auto& p : pictures)
                for (int32_t row = h - 1; row >= 0; --row)
                    std::fwrite(p.data() + size_t{Stride(w)} * row, 1, size_t{3} * w, f);
            std::fclose(f);
        }
        double ours = 1e9, theirs = 1e9;
        for (int run = 0; run < 3; ++run) {
            std::remove(path.c_str());
            const double t = WriteFile(path, {c.fccHandler, 7500, 25}, w, h, pictures, frames, nullptr);
            if (t >= 0) ours = std::min(ours, t);
            char cmd[1024];
            std::snprintf(
                cmd, sizeof cmd,
                "ffmpeg -nostdin -hide_banner -v error -y -f rawvideo -pix_fmt bgr24 -s %dx%d -r 25 -i '%s' %s "
                "-threads 0 -thread_type slice -f avi '%s.tool.avi'",
                w, h, raw.c_str(), tool, path.c_str());
            const auto start = Clock::now();
            if (std::system(cmd) == 0) theirs = std::min(theirs, Seconds(start));
        }
        std::printf("%-5s %9.3f %9.3f %8.2f  %dx%d\n", fcc.c_str(), ours, theirs, ours / theirs, w, h);
        std::remove(raw.c_str());
        std::remove((path + ".tool.avi").c_str());
    }
    std::remove(path.c_str());
    return 0;
}
