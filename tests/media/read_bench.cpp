// Reading speed of the frame getter: delivers every frame of a file in order,
// as the conversion does, and reports frames and bytes per second.
//   tavrick_read_bench FILE [passes]
#include "media/vfw/vfw.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [passes]\n", argv[0]);
        return 2;
    }
    const int passes = argc > 2 ? std::atoi(argv[2]) : 3;
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
    if (AVIFileOpenA(&file, argv[1], OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK ||
        AVIFileGetStream(file, &video, streamtypeVIDEO, 0) != AVIERR_OK) {
        std::fprintf(stderr, "%s: can't open\n", argv[1]);
        return 1;
    }
    AVISTREAMINFOA info;
    AVIStreamInfoA(video, &info, sizeof info);
    PGETFRAME getter = AVIStreamGetFrameOpen(video, nullptr);
    if (!getter) {
        std::fprintf(stderr, "%s: no frame getter\n", argv[1]);
        return 1;
    }
    double best = 1e30;
    uint64_t bytes = 0;
    int frames = 0;
    for (int pass = 0; pass < passes; ++pass) {
        // Start each pass away from frame 0 so the first request really decodes.
        AVIStreamGetFrame(getter, static_cast<int32_t>(info.dwStart + info.dwLength - 1));
        bytes = 0;
        frames = 0;
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t i = 0; i < info.dwLength; ++i) {
            const auto* dib =
                static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(getter, static_cast<int32_t>(info.dwStart + i)));
            if (!dib) continue;
            bytes += dib->biSizeImage;
            ++frames;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = seconds < best ? seconds : best;
    }
    std::printf("%s: %d frames in %.3f s: %.1f frames/s, %.0f MB/s delivered\n", argv[1], frames, best, frames / best,
                bytes / best / 1e6);
    AVIStreamGetFrameClose(getter);
    AVIStreamRelease(video);
    AVIFileRelease(file);
    AVIFileExit();
    return 0;
}
