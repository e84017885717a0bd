#include "tests/job/job_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "media/source.h"

const KernelTables& TestTables() {
    static KernelTables tables;
    static const bool built = BuildKernelTables(tables);
    EXPECT_TRUE(built);
    return tables;
}

TestRun::TestRun(const std::string& source, const std::string& destination) {
    EXPECT_EQ(OpenSource(media, source.c_str()), sourceOpened) << source;
    std::snprintf(settings.sourcePath, sizeof settings.sourcePath, "%s", source.c_str());
    std::snprintf(settings.destinationPath, sizeof settings.destinationPath, "%s", destination.c_str());
    settings.dstRate = 25;
    settings.intMethod = InterpolationMethod::Linear;
    settings.deint = DeinterlaceMode::Disabled;
    settings.deintRes = InterlaceResampleMethod::Coarse;
    settings.letterbox = LetterboxMode::None;
    settings.outputHeight = static_cast<int>(media.source.fileInfo.dwHeight);
    settings.pOptions.dwKeyFrameEvery = 0;
    run.settings = &settings;
    run.media = &media;
    run.job = &job;
    run.tables = &TestTables();
    run.control = &control;
    run.frontEnd.context = this;
    run.frontEnd.setStatusText = [](void* c, const char* s) {
        static_cast<TestRun*>(c)->progress.statuses.push_back(s);
    };
    run.frontEnd.setProgressBar = [](void* c, int p) { static_cast<TestRun*>(c)->progress.bars.push_back(p); };
    run.frontEnd.messageBox = [](void* c, HWND owner, const char* text, const char* caption, UINT style) {
        return PresentToRecorder(&static_cast<TestRun*>(c)->boxes, owner, text, caption, style);
    };
}

TestRun::~TestRun() { CloseMedia(media, nullptr, false); }

std::vector<std::string> TestRun::Texts() {
    std::vector<std::string> texts;
    for (const RecordedMessageBox& b : boxes.boxes) texts.push_back(b.text);
    return texts;
}

Bytes CountingAudio(int samples, int bits) {
    Bytes audio;
    for (int n = 0; n < samples; ++n) {
        audio.push_back(static_cast<std::uint8_t>(n));
        if (bits == 16) audio.push_back(static_cast<std::uint8_t>(n >> 8));
    }
    return audio;
}

std::string MakeCountingSource(const std::string& name, int frames, std::uint32_t rate, std::uint32_t scale,
                               std::uint32_t sampleRate, int samples, int bits) {
    FixtureFile f;
    f.width = 16;
    f.height = 8;
    FixtureStream v;
    v.format = BitmapFormat(16, 8, 24, BI_RGB);
    v.rate = rate;
    v.scale = scale;
    v.length = static_cast<std::uint32_t>(frames);
    for (int n = 0; n < frames; ++n) v.chunks.push_back(RgbPicture(16, 8, n));
    FixtureStream a;
    a.type = streamtypeAUDIO;
    a.suffix = "wb";
    a.format = PcmFormat(1, sampleRate, static_cast<std::uint16_t>(bits), true);
    a.rate = sampleRate;
    a.sampleSize = static_cast<std::uint32_t>(bits / 8);
    a.length = static_cast<std::uint32_t>(samples);
    // Chunks of an odd size, so chunk and sample boundaries never line up.
    const Bytes audio = CountingAudio(samples, bits);
    const std::size_t piece = 999 * a.sampleSize;
    for (std::size_t at = 0; at < audio.size(); at += piece)
        a.chunks.emplace_back(audio.begin() + at, audio.begin() + std::min(audio.size(), at + piece));
    f.streams = {v, a};
    return WriteFile(name, BuildAvi(f));
}

std::vector<Bytes> ReadPictures(const std::string& path) {
    std::vector<Bytes> pictures;
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) return pictures;
    if (AVIFileGetStream(file, &video, streamtypeVIDEO, 0) == AVIERR_OK) {
        AVISTREAMINFOA info{};
        AVIStreamInfoA(video, &info, sizeof info);
        if (PGETFRAME getter = AVIStreamGetFrameOpen(video, nullptr)) {
            for (std::uint32_t n = 0; n < info.dwLength; ++n) {
                const auto* dib = static_cast<const std::uint8_t*>(AVIStreamGetFrame(getter, static_cast<int32_t>(n)));
                if (!dib) break;
                BITMAPINFOHEADER h;
                std::memcpy(&h, dib, sizeof h);
                pictures.emplace_back(dib + sizeof h, dib + sizeof h + h.biSizeImage);
            }
            AVIStreamGetFrameClose(getter);
        }
        AVIStreamRelease(video);
    }
    AVIFileRelease(file);
    return pictures;
}

Bytes ReadAudio(const std::string& path) {
    Bytes audio;
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) return audio;
    if (AVIFileGetStream(file, &stream, streamtypeAUDIO, 0) == AVIERR_OK && stream) {
        AVISTREAMINFOA info{};
        AVIStreamInfoA(stream, &info, sizeof info);
        std::int32_t bytes = 0, samples = 0;
        if (info.dwLength &&
            AVIStreamRead(stream, 0, static_cast<int32_t>(info.dwLength), nullptr, 0, &bytes, &samples) == AVIERR_OK) {
            audio.resize(static_cast<std::size_t>(bytes));
            AVIStreamRead(stream, 0, static_cast<int32_t>(info.dwLength), audio.data(), bytes, &bytes, &samples);
        }
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return audio;
}

int StreamCount(const std::string& path) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) return -1;
    AVIFILEINFOA info{};
    AVIFileInfoA(file, &info, sizeof info);
    AVIFileRelease(file);
    return static_cast<int>(info.dwStreams);
}
