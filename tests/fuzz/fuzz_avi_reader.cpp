// Feeds arbitrary bytes to the AVI reader as a file and makes every call a
// caller makes: open, descriptions, formats, audio reads, frames in and out of
// order. Anything but a status is a finding.
#include "media/vfw/vfw.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/fuzz_support.h"

namespace {

bool IsStatus(AVIRESULT r) {
    const uint32_t u = static_cast<uint32_t>(r);
    return r == AVIERR_OK || (u >= 0x80044000u + 101 && u <= 0x80044000u + 199);
}

void Exercise(PAVISTREAM s, bool video, const AVIFILEINFOA& fi) {
    AVISTREAMINFOA si;
    Check(AVIStreamInfoA(s, &si, sizeof si) == AVIERR_OK, "stream info");
    uint8_t format[18];
    int32_t size = sizeof format;
    Check(IsStatus(AVIStreamReadFormat(s, 0, format, &size)), "format status");
    static uint8_t buffer[1 << 16];
    const int32_t start = static_cast<int32_t>(si.dwStart);  // as callers do: a huge start wraps
    const int32_t length = static_cast<int32_t>(std::min<uint32_t>(si.dwLength, 1u << 24));
    auto at = [&](int64_t offset) {
        return static_cast<int32_t>(std::clamp<int64_t>(int64_t{start} + offset, INT32_MIN, INT32_MAX));
    };
    for (int32_t pos : {at(0), at(1), at(length / 2), at(int64_t{length} - 1), at(length)}) {
        int32_t bytes = -1, samples = -1;
        const AVIRESULT r = AVIStreamRead(s, pos, 3000, buffer, sizeof buffer, &bytes, &samples);
        Check(IsStatus(r), "read status");
        Check(bytes >= 0 && bytes <= static_cast<int32_t>(sizeof buffer) && samples >= 0, "read counts");
    }
    if (!video) return;
    BITMAPINFOHEADER want{};
    want.biSize = 40;
    want.biWidth = static_cast<int32_t>(std::min<uint32_t>(fi.dwWidth, 2048));
    want.biHeight = static_cast<int32_t>(std::min<uint32_t>(fi.dwHeight, 2048));
    want.biPlanes = 1;
    want.biBitCount = 24;
    PGETFRAME g = AVIStreamGetFrameOpen(s, &want);
    if (!g) return;
    const int32_t frames = std::min(length, 12);
    for (int32_t pos : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 4, 0, frames - 1, frames + 1, -1}) {
        if (pos >= frames + 2) continue;
        if (void* dib = AVIStreamGetFrame(g, at(pos))) {
            const auto* bi = static_cast<const BITMAPINFOHEADER*>(dib);
            Check(bi->biBitCount == 24 && bi->biWidth == want.biWidth, "frame header");
            // Touch the last byte: the picture must be all there.
            volatile uint8_t last = static_cast<const uint8_t*>(dib)[40 + bi->biSizeImage - 1];
            (void)last;
        }
    }
    Check(AVIStreamGetFrameClose(g) == AVIERR_OK, "getter close");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = InputAsFile(data, size);

    PAVIFILE file = nullptr;
    const AVIRESULT r = AVIFileOpenA(&file, path, OF_SHARE_DENY_WRITE, nullptr);
    Check(IsStatus(r) && (r == AVIERR_OK) == (file != nullptr), "open");
    if (!file) return 0;
    AVIFILEINFOA fi;
    Check(AVIFileInfoA(file, &fi, sizeof fi) == AVIERR_OK, "file info");
    for (int32_t i = 0; i < 4; ++i) {
        PAVISTREAM s = nullptr;
        if (AVIFileGetStream(file, &s, 0, i) != AVIERR_OK) break;
        AVISTREAMINFOA si;
        AVIStreamInfoA(s, &si, sizeof si);
        Exercise(s, si.fccType == streamtypeVIDEO, fi);
        AVIStreamRelease(s);
    }
    AVIFileRelease(file);
    return 0;
}
