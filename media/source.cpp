#include "media/source.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/messages.h"
#include "frames/geometry.h"
#include "media/lav/audio.h"
#include "media/lav/audio_packets.h"
#include "media/lav/output.h"
#include "media/lav/video.h"

// The handles of the backend reading the source. A file the AVI services
// open keeps them for its video; its audio comes from them or, decoded,
// from libavcodec. Every other file is read by libavformat alone.
struct SourceReader {
    // AVI services.
    PAVIFILE file = nullptr;
    PAVISTREAM videoStream = nullptr;
    PAVISTREAM audioStream = nullptr;  // carried as stored
    PGETFRAME frameGetter = nullptr;
    bool aviServices = false;  // holds an initialisation of the services
    // libavformat.
    LavVideo* video = nullptr;
    LavAudio* audio = nullptr;  // decoded to 16-bit PCM
    std::vector<std::uint8_t> audioScratch;
    // Where the audio's packets are found when a destination carries them as stored.
    std::string path;
    int audioWhich = 0;
    Ratio audioOrigin;  // the time, in the file, that plays with the first picture
};

namespace {

bool EndsWithAvi(const char* path) {
    const std::size_t n = std::strlen(path);
    return n >= 4 && path[n - 4] == '.' && (path[n - 3] | 0x20) == 'a' && (path[n - 2] | 0x20) == 'v' &&
           (path[n - 1] | 0x20) == 'i';
}

bool IsRiffAvi(int fd) {
    unsigned char head[12] = {};
    return pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) && std::memcmp(head, "RIFF", 4) == 0 &&
           std::memcmp(head + 8, "AVI ", 4) == 0;
}

}  // namespace

SourceCheck CheckSourceFile(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return SourceCheck::cannotOpen;
    // A file another program is writing (it holds the exclusive lock) is refused.
    struct stat st {};
    const bool readable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_SH | LOCK_NB) == 0;
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    // The AVI reader's limit; other containers are read by libavformat.
    const bool avi = readable && (IsRiffAvi(fd) || EndsWithAvi(path));
    close(fd);
    if (!readable) return SourceCheck::cannotOpen;
    return avi && size > maxSourceBytes ? SourceCheck::tooLarge : SourceCheck::admitted;
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
    CloseLavOutput(d.output);
}

void CloseReader(SourceReader*& r) {
    if (!r) return;
    if (r->frameGetter) AVIStreamGetFrameClose(r->frameGetter);
    releaseRef(r->videoStream, AVIStreamRelease);
    releaseRef(r->audioStream, AVIStreamRelease);
    releaseRef(r->file, AVIFileRelease);
    if (r->aviServices) AVIFileExit();
    CloseLavVideo(r->video);
    CloseLavAudio(r->audio);
    delete r;
    r = nullptr;
}

// The clean-up of a failed open and the body of a full close, in this order.
void fullCleanUp(MediaState& media) {
    SourceMedia& s = media.source;
    DestinationMedia& d = media.destination;
    FreeFrameBuffers(media.buffers);
    releaseRef(d.videoStream, AVIStreamRelease);
    releaseRef(d.compressedStream, AVIStreamRelease);
    FreeFrameBuffer(d.audioChunk);
    d.audioChunkBytes = 0;
    releaseRef(d.audioStream, AVIStreamRelease);
    CloseLavOutput(d.output);
    CloseReader(s.reader);
    releaseRef(d.file, AVIFileRelease);
    s.isOpen = false;
    s.hasAudio = false;
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

// The frame format every backend delivers: 24-bit BGR, bottom-up, rows padded to 4 bytes.
void SetFrameFormat(SourceMedia& s, std::uint32_t width, std::uint32_t height) {
    std::memset(&s.frameFormat, 0, sizeof s.frameFormat);
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
}

std::string FccText(std::uint32_t fcc) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fcc >> (8 * i)) & 0xFF);
        if (c >= ' ' && c <= '~') s += c;
    }
    return s;
}

// Audio decoded by libavcodec, described as the 16-bit PCM stream it becomes.
void DescribeDecodedAudio(SourceMedia& s, const LavAudioInfo& a) {
    const auto block = static_cast<std::uint16_t>(a.channels * 2);
    s.audioFormat = WAVEFORMATEX{};
    s.audioFormat.wFormatTag = WAVE_FORMAT_PCM;
    s.audioFormat.nChannels = static_cast<std::uint16_t>(a.channels);
    s.audioFormat.nSamplesPerSec = static_cast<std::uint32_t>(a.sampleRate);
    s.audioFormat.nAvgBytesPerSec = static_cast<std::uint32_t>(a.sampleRate) * block;
    s.audioFormat.nBlockAlign = block;
    s.audioFormat.wBitsPerSample = 16;
    s.audioInfo = AVISTREAMINFOA{};
    s.audioInfo.fccType = streamtypeAUDIO;
    s.audioInfo.dwScale = block;
    s.audioInfo.dwRate = s.audioFormat.nAvgBytesPerSec;
    s.audioInfo.dwLength = static_cast<std::uint32_t>(std::min<std::int64_t>(a.length, INT32_MAX));
    s.audioInfo.dwQuality = 0xFFFFFFFFu;
    s.audioInfo.dwSampleSize = block;
    s.audioInfo.dwSuggestedBufferSize = s.audioFormat.nAvgBytesPerSec;
    s.hasAudio = true;
    s.description.audioDecoded = true;
    s.description.audioCodec = a.codec;
    s.description.audioSourceBits = a.sourceBits;
    s.description.audioSourceChannels = a.sourceChannels;
}

enum class AudioOpen { none, opened, refused };

// The chosen audio stream decoded by libavcodec, sample 0 at `origin`.
AudioOpen OpenDecodedAudio(SourceMedia& s, const char* path, int which, Ratio origin) {
    LavAudioInfo info;
    std::string why;
    s.reader->audio = OpenLavAudio(path, which, origin, &info, &why);
    if (!s.reader->audio) {
        s.failureDetail = "audio: " + why;
        return AudioOpen::refused;
    }
    DescribeDecodedAudio(s, info);
    return AudioOpen::opened;
}

// The AVI services' part of an open: the file, the first video stream, its
// frame getter. sourceOpened or the code of the step that failed.
RunResult OpenAviVideo(SourceMedia& s, const char* path) {
    SourceReader& r = *s.reader;
    AVIFileInit();
    r.aviServices = true;
    if (AVIFileOpenA(&r.file, path, OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) {
        r.file = nullptr;
        return sourceCannotOpen;
    }
    if (AVIFileGetStream(r.file, &r.videoStream, streamtypeVIDEO, 0) != AVIERR_OK || !r.videoStream) {
        r.videoStream = nullptr;
        return sourceNoVideo;
    }
    if (AVIFileInfoA(r.file, &s.fileInfo, sizeof s.fileInfo) != AVIERR_OK ||
        AVIStreamInfoA(r.videoStream, &s.videoInfo, sizeof s.videoInfo) != AVIERR_OK)
        return sourceNoInfo;
    if (s.fileInfo.dwHeight == 0) return sourceUnsupported;
    if (!UsableTiming(s.videoInfo)) return sourceNoInfo;
    r.audioOrigin = Ratio{std::int64_t{s.videoInfo.dwStart} * s.videoInfo.dwScale, s.videoInfo.dwRate};
    SetFrameFormat(s, s.fileInfo.dwWidth, s.fileInfo.dwHeight);
    r.frameGetter = AVIStreamGetFrameOpen(r.videoStream, &s.frameFormat.header);
    if (!r.frameGetter) return sourceUnsupported;
    s.description.container = "AVI";
    s.description.recoveredByScan = AviFileRecoveredByScan(r.file);
    for (PAVISTREAM a = nullptr;
         AVIFileGetStream(r.file, &a, streamtypeAUDIO, s.description.audioStreams) == AVIERR_OK;) {
        AVIStreamRelease(a);
        ++s.description.audioStreams;
    }
    BITMAPINFOHEADER stored{};
    std::int32_t bytes = sizeof stored;
    const AVIRESULT read = AVIStreamReadFormat(r.videoStream, 0, &stored, &bytes);
    if ((read == AVIERR_OK || read == AVIERR_BUFFERTOOSMALL) && bytes >= 20)
        s.description.videoCodec = stored.biCompression == BI_RGB ? "uncompressed" : FccText(stored.biCompression);
    return sourceOpened;
}

// The AVI services' audio stream `which`: carried as stored when they can,
// else decoded (always, unless it is 16-bit PCM, when `only16Bit`).
// refused: there is audio, but neither can read it.
AudioOpen OpenAviAudio(SourceMedia& s, const char* path, int which, bool only16Bit) {
    SourceReader& r = *s.reader;
    PAVISTREAM audio = nullptr;
    AVIFileGetStream(r.file, &audio, streamtypeAUDIO, which);  // only whether a stream came back counts
    if (!audio && which > 0) {
        s.failureDetail = "the source has no audio stream " + std::to_string(which);
        return AudioOpen::refused;
    }
    if (!audio) return AudioOpen::none;
    r.audioStream = audio;
    std::int32_t formatBytes = sizeof s.audioFormat;
    if (AVIStreamInfoA(audio, &s.audioInfo, sizeof s.audioInfo) == AVIERR_OK &&
        AVIStreamReadFormat(audio, 0, &s.audioFormat, &formatBytes) == AVIERR_OK &&
        CarriableAudio(s.audioFormat, s.audioInfo) &&
        (!only16Bit || (s.audioFormat.wFormatTag == 1 && s.audioFormat.wBitsPerSample == 16))) {
        s.hasAudio = true;
        s.description.audioCodec =
            IsPcmAudio(s.audioFormat) ? "PCM" : "stored format " + std::to_string(s.audioFormat.wFormatTag);
        return AudioOpen::opened;
    }
    releaseRef(r.audioStream, AVIStreamRelease);
    // Sample 0 plays with the first frame of the video stream.
    return OpenDecodedAudio(s, path, which, r.audioOrigin);
}

// libavformat reads the whole source.
RunResult OpenLavSource(SourceMedia& s, const char* path, const SourceOptions& options, AudioOpen* audio) {
    SourceReader& r = *s.reader;
    LavVideoInfo v;
    std::string why;
    r.video = OpenLavVideo(path, Ratio{options.rateNum, options.rateNum ? std::int64_t{options.rateDen} : 1}, &v, &why);
    if (!r.video) {
        s.failureDetail = why;
        return why == "no video stream"                                                    ? sourceNoVideo
               : why.rfind("no decoder", 0) == 0 || why.rfind("the first picture", 0) == 0 ? sourceUnsupported
                                                                                           : sourceCannotOpen;
    }
    const auto width = static_cast<std::uint32_t>(v.width), height = static_cast<std::uint32_t>(v.height);
    s.fileInfo = AVIFILEINFOA{};
    s.fileInfo.dwStreams = static_cast<std::uint32_t>(v.streams.size());
    s.fileInfo.dwWidth = width;
    s.fileInfo.dwHeight = height;
    s.fileInfo.dwRate = static_cast<std::uint32_t>(v.rate.num);
    s.fileInfo.dwScale = static_cast<std::uint32_t>(v.rate.den);
    s.fileInfo.dwLength = static_cast<std::uint32_t>(std::min<std::int64_t>(v.length, INT32_MAX));
    std::snprintf(s.fileInfo.szFileType, sizeof s.fileInfo.szFileType, "%s", v.container.c_str());
    s.videoInfo = AVISTREAMINFOA{};
    s.videoInfo.fccType = streamtypeVIDEO;
    s.videoInfo.dwRate = s.fileInfo.dwRate;
    s.videoInfo.dwScale = s.fileInfo.dwScale;
    s.videoInfo.dwLength = s.fileInfo.dwLength;
    s.videoInfo.dwQuality = 0xFFFFFFFFu;
    s.videoInfo.rcFrame.right = static_cast<std::int32_t>(width);
    s.videoInfo.rcFrame.bottom = static_cast<std::int32_t>(height);
    if (!UsableTiming(s.videoInfo)) {
        s.failureDetail = "a frame rate no run can step by";
        return sourceNoInfo;
    }
    SetFrameFormat(s, width, height);
    SourceDescription& d = s.description;
    d.container = v.container;
    d.videoCodec = v.codec + (v.pixelFormat.empty() ? "" : ", " + v.pixelFormat);
    d.variableRate = v.variable;
    d.rotation = v.rotation;
    d.sampleAspectNum = static_cast<std::uint32_t>(v.sampleAspect.num);
    d.sampleAspectDen = static_cast<std::uint32_t>(v.sampleAspect.den);
    d.interlaced = v.interlaced;
    d.streams = v.streams;
    r.audioOrigin = v.origin;
    *audio = AudioOpen::none;
    if (options.noAudio) return sourceOpened;
    d.audioStreams = CountLavAudioStreams(path);
    if (d.audioStreams > options.audioStream) {
        *audio = OpenDecodedAudio(s, path, options.audioStream, v.origin);
    } else if (options.audioStream > 0) {
        s.failureDetail = "the source has no audio stream " + std::to_string(options.audioStream);
        *audio = AudioOpen::refused;
    }
    return sourceOpened;
}

RunResult failOpen(MediaState& media, RunResult result) {
    fullCleanUp(media);
    return result;
}

}  // namespace

RunResult OpenSource(MediaState& media, const char* path, const SourceOptions& options) {
    SourceMedia& s = media.source;
    s.description = SourceDescription{};
    s.failureDetail.clear();
    s.hasAudio = false;
    try {
        s.reader = new SourceReader{};
    } catch (const std::bad_alloc&) {
        return sourceCannotOpen;
    }
    AudioOpen audio = AudioOpen::none;
    const RunResult avi = OpenAviVideo(s, path);
    if (avi == sourceOpened) {
        s.isOpen = true;
        if (!options.noAudio) audio = OpenAviAudio(s, path, options.audioStream, options.audio16Bit);
    } else if (avi == sourceNoInfo) {
        // A description that lies (rates, starts) stays refused.
        return failOpen(media, avi);
    } else {
        // What the AVI services can't open, find no video in (type-1 DV is
        // one interleaved stream) or can't decode, libavformat may read.
        CloseReader(s.reader);
        s.reader = new (std::nothrow) SourceReader{};
        if (!s.reader) return sourceCannotOpen;
        s.description = SourceDescription{};
        const RunResult lav = OpenLavSource(s, path, options, &audio);
        if (lav != sourceOpened) {
            // A RIFF AVI file keeps the AVI services' answer.
            return failOpen(media, avi != sourceCannotOpen ? avi : lav);
        }
        s.isOpen = true;
    }
    if (audio == AudioOpen::refused) return failOpen(media, sourceNoInfo);
    s.description.audioStream = options.audioStream;
    s.reader->path = path;
    s.reader->audioWhich = options.audioStream;
    return sourceOpened;
}

const std::uint8_t* SourcePicture(SourceMedia& source, std::int64_t index) {
    SourceReader* r = source.reader;
    if (!r) return nullptr;
    if (r->video) return LavVideoPicture(r->video, index);
    const std::int64_t position = std::int64_t{source.videoInfo.dwStart} + index;
    if (!r->frameGetter || position < INT32_MIN || position > INT32_MAX) return nullptr;
    const void* picture = AVIStreamGetFrame(r->frameGetter, static_cast<std::int32_t>(position));
    return picture ? static_cast<const std::uint8_t*>(picture) + sizeof(BITMAPINFOHEADER) : nullptr;
}

bool ReadSourceAudio(SourceMedia& source, std::int32_t start, std::int32_t count, void* buffer,
                     std::int32_t bufferBytes, std::int32_t* bytes, std::int32_t* samples) {
    *bytes = *samples = 0;
    SourceReader* r = source.reader;
    if (!r) return false;
    if (r->audioStream)
        return AVIStreamRead(r->audioStream, start, count, buffer, bufferBytes, bytes, samples) == AVIERR_OK;
    if (!r->audio) return false;
    const std::int32_t block = source.audioFormat.nBlockAlign;
    const std::int64_t from = std::int64_t{start} - source.audioInfo.dwStart;
    if (block <= 0 || count < 0 || from < 0 || from >= source.audioInfo.dwLength) return false;
    const std::int64_t fits = std::min<std::int64_t>(count, bufferBytes / block);
    if (fits == 0 && count > 0) return false;
    const std::int64_t got = ReadLavAudio(r->audio, from, fits, static_cast<std::uint8_t*>(buffer));
    if (got <= 0) return false;
    *samples = static_cast<std::int32_t>(got);
    *bytes = static_cast<std::int32_t>(got * block);
    return true;
}

LavAudioPackets* OpenSourceAudioPackets(const SourceMedia& source, std::string* why) {
    const SourceReader* r = source.reader;
    if (!r || !source.hasAudio) return *why = "the source has no audio", nullptr;
    return OpenLavAudioPackets(r->path.c_str(), r->audioWhich, r->audioOrigin, why);
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
