#include "media/source.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/messages.h"

SourceCheck CheckSourceFile(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return SourceCheck::cannotOpen;
    // A file another program is writing (it holds the exclusive lock) is refused.
    struct stat st {};
    const bool readable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_SH | LOCK_NB) == 0;
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    close(fd);
    if (!readable) return SourceCheck::cannotOpen;
    return size > maxSourceBytes ? SourceCheck::tooLarge : SourceCheck::admitted;
}

namespace {

template <typename Release, typename Ref>
void releaseRef(Ref*& ref, Release release) {
    if (ref) release(ref);
    ref = nullptr;
}

void releaseDestinationStreams(DestinationMedia& d) {
    releaseRef(d.videoStream, AVIStreamRelease);
    releaseRef(d.compressedStream, AVIStreamRelease);
    releaseRef(d.audioStream, AVIStreamRelease);
}

// The clean-up of a failed open and the body of a full close, in this order.
void fullCleanUp(MediaState& media) {
    SourceMedia& s = media.source;
    DestinationMedia& d = media.destination;
    FreeFrameBuffers(media.buffers);
    if (s.frameGetter) AVIStreamGetFrameClose(s.frameGetter);
    s.frameGetter = nullptr;
    releaseRef(s.videoStream, AVIStreamRelease);
    releaseRef(d.videoStream, AVIStreamRelease);
    releaseRef(d.compressedStream, AVIStreamRelease);
    FreeFrameBuffer(d.audioChunk);
    d.audioChunkBytes = 0;
    releaseRef(s.audioStream, AVIStreamRelease);
    releaseRef(d.audioStream, AVIStreamRelease);
    releaseRef(s.file, AVIFileRelease);
    releaseRef(d.file, AVIFileRelease);
    // Only a source that was opened holds an initialisation of the services.
    if (s.isOpen) AVIFileExit();
    s.isOpen = false;
}

// A frame rate no run could step by (zero, or one frame in more than
// 1000 seconds, or over a million a second), or positions past what the
// frame calls can address, is a description that can't be read.
bool UsableTiming(const AVISTREAMINFOA& v) {
    if (v.dwRate == 0 || v.dwScale == 0) return false;
    const double rate = static_cast<double>(v.dwRate) / static_cast<double>(v.dwScale);
    return rate >= 0.001 && rate <= 1e6 && std::uint64_t{v.dwStart} + v.dwLength <= INT32_MAX;
}

// Sound no player could play (no channels, more than 8 without a layout
// to place them, no block size), or compressed sound whose units would cut
// its blocks, can't be carried over.
bool CarriableAudio(const WAVEFORMATEX& f, const AVISTREAMINFOA& info) {
    if (f.nChannels == 0 || f.nChannels > 8 || f.nBlockAlign == 0 || f.nSamplesPerSec == 0) return false;
    if (IsPcmAudio(f)) return true;
    return info.dwRate != 0 && info.dwScale != 0 && info.dwSampleSize % f.nBlockAlign == 0;
}

RunResult failOpen(MediaState& media, RunResult result) {
    fullCleanUp(media);
    AVIFileExit();  // the initialisation of this open
    return result;
}

}  // namespace

RunResult OpenSource(MediaState& media, const char* path) {
    SourceMedia& s = media.source;
    AVIFileInit();
    if (AVIFileOpenA(&s.file, path, OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) {
        s.file = nullptr;
        AVIFileExit();
        return sourceCannotOpen;
    }
    if (AVIFileGetStream(s.file, &s.videoStream, streamtypeVIDEO, 0) != AVIERR_OK || !s.videoStream) {
        s.videoStream = nullptr;
        return failOpen(media, sourceNoVideo);
    }
    if (AVIFileInfoA(s.file, &s.fileInfo, sizeof s.fileInfo) != AVIERR_OK ||
        AVIStreamInfoA(s.videoStream, &s.videoInfo, sizeof s.videoInfo) != AVIERR_OK)
        return failOpen(media, sourceNoInfo);
    if (s.fileInfo.dwHeight == 0) return failOpen(media, sourceUnsupported);
    if (!UsableTiming(s.videoInfo)) return failOpen(media, sourceNoInfo);

    std::memset(&s.frameFormat, 0, sizeof s.frameFormat);
    const std::uint32_t width = s.fileInfo.dwWidth, height = s.fileInfo.dwHeight;
    s.stride = width * 3;
    if (s.stride % 4) s.stride += 4 - s.stride % 4;
    BITMAPINFOHEADER& h = s.frameFormat.header;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = static_cast<std::int32_t>(width);
    h.biHeight = static_cast<std::int32_t>(height);
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    h.biSizeImage = s.stride * height;

    s.frameGetter = AVIStreamGetFrameOpen(s.videoStream, &h);
    if (!s.frameGetter) return failOpen(media, sourceUnsupported);

    PAVISTREAM audio = nullptr;
    AVIFileGetStream(s.file, &audio, streamtypeAUDIO, 0);  // only whether a stream came back counts
    s.isOpen = true;
    if (!audio) return sourceOpened;
    s.audioStream = audio;
    std::int32_t formatBytes = sizeof s.audioFormat;
    if (AVIStreamInfoA(s.audioStream, &s.audioInfo, sizeof s.audioInfo) != AVIERR_OK ||
        AVIStreamReadFormat(s.audioStream, 0, &s.audioFormat, &formatBytes) != AVIERR_OK ||
        !CarriableAudio(s.audioFormat, s.audioInfo)) {
        fullCleanUp(media);  // isOpen was set: this also ends the initialisation
        return sourceNoInfo;
    }
    return sourceOpened;
}

bool IsPcmAudio(const WAVEFORMATEX& format) { return format.wFormatTag == 1 || format.wFormatTag == 3; }

void CloseMedia(MediaState& media, const char* deletePath, bool keepSource) {
    if (keepSource) {
        releaseDestinationStreams(media.destination);
        releaseRef(media.destination.file, AVIFileRelease);
        return;
    }
    fullCleanUp(media);
    if (deletePath) std::remove(deletePath);
}
