#include "media/destination.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>

#include "core/messages.h"
#include "media/lav/audio_packets.h"
#include "media/lav/output.h"
#include "media/source.h"
#include "media/vfw/compressor.h"

namespace {

// An audio chunk larger than this is a nonsensical interleave setting; it is
// treated like memory that can't be had.
constexpr std::uint64_t maxAudioChunkBytes = 256u << 20;

void releaseDestination(DestinationMedia& d) {
    for (PAVISTREAM* s : {&d.videoStream, &d.compressedStream, &d.audioStream}) {
        if (*s) AVIStreamRelease(*s);
        *s = nullptr;
    }
    if (d.file) AVIFileRelease(d.file);
    d.file = nullptr;
}

RunResult failWith(DestinationMedia& d, RunResult result) {
    if (d.file && d.failureDetail.empty()) d.failureDetail = AviFileFailure(d.file);
    releaseDestination(d);
    return result;
}

// What a creation that failed after the file existed leaves in its place:
// an AVI of the run's frame size, uncompressed, with no frames, which every
// player opens (rather than headers with no stream format).
void LeaveEmptyAvi(const char* path, const SourceMedia& s, std::int32_t outputHeight, const FrameRate& outputRate) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path, OF_CREATE | OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) return;
    AVISTREAMINFOA video = s.videoInfo;
    video.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    video.rcFrame.bottom = outputHeight;
    video.dwStart = 0;
    video.dwLength = 0;
    DestinationRate(outputRate, &video.dwRate, &video.dwScale);
    PAVISTREAM stream = nullptr;
    if (AVIFileCreateStreamA(file, &stream, &video) == AVIERR_OK) {
        FrameFormat format = s.frameFormat;
        format.header.biHeight = outputHeight;
        format.header.biSizeImage = s.stride * static_cast<std::uint32_t>(outputHeight);
        AVIStreamSetFormat(stream, 0, &format, sizeof format);
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
}

}  // namespace

bool FileExists(const char* path) {
    struct stat st {};
    return lstat(path, &st) == 0;
}

bool IsReplaceable(const char* path, const char** what) {
    struct stat st {};
    const char* kind = nullptr;
    if (stat(path, &st) == 0) {
        kind = S_ISREG(st.st_mode)                          ? nullptr
               : S_ISDIR(st.st_mode)                        ? "a folder"
               : S_ISFIFO(st.st_mode)                       ? "a FIFO"
               : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
               : S_ISSOCK(st.st_mode)                       ? "a socket"
                                                            : "not a regular file";
    } else if (lstat(path, &st) != 0 || !S_ISLNK(st.st_mode)) {
        kind = "not a regular file";  // a link that leads nowhere is replaceable
    }
    if (what) *what = kind;
    return kind == nullptr;
}

// Deleting a file on Linux succeeds even while another run reads or writes
// it (the source itself, say), so a file someone holds is not replaced.
bool DeleteFileUnlessHeld(const char* path, std::string* cause) {
    const char* what = nullptr;
    if (!IsReplaceable(path, &what)) {
        if (cause) *cause = std::string(path) + " is " + what + ", not a file that can be replaced";
        return false;
    }
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
        close(fd);
        if (held) {
            if (cause) *cause = std::string(path) + " is open in another run and can't be replaced";
            return false;
        }
    }
    if (unlink(path) == 0) return true;
    // The lock was free, the folder refused: its own words (no permission,
    // a read-only file system).
    if (cause) *cause = std::string(path) + " can't be replaced: " + std::strerror(errno);
    return false;
}

void DestinationRate(const FrameRate& rate, std::uint32_t* dwRate, std::uint32_t* dwScale) {
    if (rate.Exact()) {
        *dwRate = rate.rate;
        *dwScale = rate.scale;
        return;
    }
    const double outputRate = rate.value;
    // Only rates inside the int range can be whole numbers of the header.
    if (outputRate > 0 && outputRate < 2147483648.0) {
        const auto whole = static_cast<std::int32_t>(outputRate);
        if (static_cast<double>(whole) == outputRate) {
            *dwScale = 1;
            *dwRate = static_cast<std::uint32_t>(whole);
            return;
        }
    }
    const double thousandths = outputRate * 1000;
    *dwScale = 1000;
    *dwRate = thousandths > 0 && thousandths < 4294967296.0 ? static_cast<std::uint32_t>(thousandths) : 0;
}

AudioChunking ComputeAudioChunking(std::uint32_t interleaveMs, const FrameRate& rate, const WAVEFORMATEX& format,
                                   const AVISTREAMINFOA* info) {
    AudioChunking c;
    const double outputRate = rate.value;
    // An exact rate counts in whole numbers: 1001 ms at 30000/1001 is 30 frames.
    const double frames =
        rate.Exact() ? static_cast<double>(std::uint64_t{interleaveMs} * rate.rate / (std::uint64_t{rate.scale} * 1000))
                     : interleaveMs * 0.001 * outputRate;
    c.framesPerAudioChunk = frames >= 1 && frames < 4294967296.0 ? static_cast<std::uint32_t>(frames) : 1;
    // Seconds a chunk covers, as frames x scale / rate for an exact rate.
    const auto perChunk = [&](double unitsPerSecond) {
        return rate.Exact() ? c.framesPerAudioChunk * static_cast<double>(rate.scale) * unitsPerSecond / rate.rate
                            : c.framesPerAudioChunk / outputRate * unitsPerSecond;
    };
    if (info && !IsPcmAudio(format) && info->dwScale != 0) {
        c.samplesPerAudioChunk = rate.Exact() ? perChunk(static_cast<double>(info->dwRate)) / info->dwScale
                                              : c.framesPerAudioChunk / outputRate * info->dwRate / info->dwScale;
        const std::uint64_t units = static_cast<std::uint64_t>(c.samplesPerAudioChunk + 1);
        const std::uint64_t unitBytes = info->dwSampleSize ? info->dwSampleSize : info->dwSuggestedBufferSize;
        c.audioChunkBytes = units * (unitBytes ? unitBytes : 1);
        return c;
    }
    c.samplesPerAudioChunk = perChunk(format.nSamplesPerSec);
    const std::uint64_t m = static_cast<std::uint64_t>(c.samplesPerAudioChunk + 1);
    const std::uint64_t sampleBytes = format.wBitsPerSample == 0 ? 2 : format.wBitsPerSample / 8;
    // A block may hold more than channels x bits / 8 bytes (odd bit depths);
    // the chunk must hold whole blocks or the read of a full chunk fails.
    const std::uint64_t bytes = sampleBytes * m * format.nChannels;
    const std::uint64_t blockBytes = static_cast<std::uint64_t>(format.nBlockAlign) * m;
    c.audioChunkBytes = bytes > blockBytes ? bytes : blockBytes;
    return c;
}

bool AskOverwrite(const DestinationPrompts& prompts, const char* path) {
    return ShowFileMessage(prompts.user, prompts.owner, IDS_CAPTION, IDS_ASK_OVERWRITE, path,
                           MB_ICONQUESTION | MB_YESNO) == IDYES;
}

namespace {

// The pixels' shape that shows the picture as the source shows it: the
// source's sample aspect, scaled as its rows are where the picture is
// resized (an aspect preset that squeezes anamorphic pixels gives square
// ones, one that targets a PAL or NTSC frame gives that frame's pixels). A
// source that says nothing gets nothing: players take square pixels, as the
// AVI output shows them, and a resize the user made for that stays visible.
void OutputSampleAspect(const SourceMedia& s, std::int32_t pictureRows, int* num, int* den) {
    const std::int64_t rows = s.frameFormat.header.biHeight;
    *num = 0;
    *den = 1;
    if (s.description.sampleAspectNum == 0 || s.description.sampleAspectDen == 0 || rows <= 0 || pictureRows <= 0)
        return;
    std::int64_t n = std::int64_t{s.description.sampleAspectNum} * pictureRows;
    std::int64_t d = std::int64_t{s.description.sampleAspectDen} * rows;
    const std::int64_t g = std::gcd(n, d);
    n /= g;
    d /= g;
    // Matroska and MP4 hold 32-bit sides; a shape that needs more is rounded.
    while (n > INT32_MAX || d > INT32_MAX) {
        n = (n + 1) / 2;
        d = (d + 1) / 2;
    }
    *num = static_cast<int>(n);
    *den = static_cast<int>(d);
}

// A destination in MKV, MP4, MOV or WebM: one file, no segments, the audio
// carried as stored or written with every frame (the source opened it as
// 16-bit PCM) and encoded.
RunResult CreateLavDestination(MediaState& media, AVICOMPRESSOPTIONS& options, const DestinationPrompts& prompts,
                               const char* path, OutputContainer container, const FrameRate& outputRate,
                               std::int32_t pictureRows) {
    SourceMedia& s = media.source;
    DestinationMedia& d = media.destination;
    AVICOMPRESSOPTIONS* list[1] = {&options};
    PAVISTREAM streams[1] = {nullptr};
    const bool confirmed = AVISaveOptions(prompts.owner, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, 1, streams, list,
                                          &prompts.options) != 0;
    AVISaveOptionsFree(1, list);
    if (!confirmed) return destinationDeclined;
    if (!ContainerTakesCompressor(container, options.fccHandler)) {
        d.failureDetail = std::string("the ") + OutputContainerName(container) + " container takes no such compressor";
        return destinationFormatRefused;
    }
    LavOutputSetup setup;
    setup.path = path;
    setup.container = container;
    setup.width = static_cast<int>(d.frameFormat.header.biWidth);
    setup.height = d.frameFormat.header.biHeight;
    setup.stride = s.stride;
    setup.rateNum = d.videoRate;
    setup.rateDen = d.videoScale;
    setup.fccHandler = options.fccHandler;
    setup.quality = options.dwQuality;
    setup.keyFrameEvery = options.dwKeyFrameEvery;
    if (options.dwFlags & AVICOMPRESSF_DATARATE) setup.bytesPerSecond = options.dwBytesPerSecond;
    setup.preset = d.options.preset;
    OutputSampleAspect(s, pictureRows, &setup.sampleAspectNum, &setup.sampleAspectDen);
    const std::string where = std::string("the ") + OutputContainerName(container) + " container";
    const std::string sound = s.description.audioCodec.empty() ? "such" : s.description.audioCodec;
    if (s.hasAudio && (d.options.audio == AudioChoice::automatic || d.options.audio == AudioChoice::copy)) {
        // The sound goes over as stored where the container takes it.
        std::string why;
        setup.copiedAudio = OpenSourceAudioPackets(s, &why);
        if (setup.copiedAudio && d.options.audio == AudioChoice::automatic &&
            !CarriedAsStoredByDefault(container, LavAudioPacketsCodecId(setup.copiedAudio)))
            why = "not unasked";
        else if (setup.copiedAudio)
            why = CopiedAudioRefusal(container, setup.copiedAudio);
        if (!why.empty()) CloseLavAudioPackets(setup.copiedAudio);
        if (!setup.copiedAudio && d.options.audio == AudioChoice::copy) {
            d.failureDetail = where + " takes no " + sound + " audio as stored (" + why + ")";
            return destinationAudioRefused;
        }
        setup.audioName = sound;
    }
    if (s.hasAudio && !setup.copiedAudio) {
        const WAVEFORMATEX& f = s.audioFormat;
        setup.audio = ChooseAudioCodec(container, d.options.audio, s.description.audioCodec);
        if (setup.audio == AudioCodec::none || f.wFormatTag != 1 || f.wBitsPerSample != 16 || f.nChannels == 0) {
            d.failureDetail = where + " takes no " + sound + " audio";
            return destinationAudioRefused;
        }
        setup.sampleRate = static_cast<int>(f.nSamplesPerSec);
        setup.channels = f.nChannels;
        // A chunk of audio with every frame, counted as the AVI path counts it.
        const AudioChunking c = ComputeAudioChunking(0, outputRate, f);
        d.framesPerAudioChunk = c.framesPerAudioChunk;
        d.samplesPerAudioChunk = c.samplesPerAudioChunk;
        FreeFrameBuffer(d.audioChunk);
        d.audioChunkBytes = 0;
        if (c.audioChunkBytes <= maxAudioChunkBytes) d.audioChunk = AllocateFrameBuffer(c.audioChunkBytes);
        if (!d.audioChunk) return destinationNoMemory;
        d.audioChunkBytes = static_cast<std::uint32_t>(c.audioChunkBytes);
    }
    std::string why;
    d.output = CreateLavOutput(setup, &why);
    if (!d.output) {
        d.failureDetail = why;
        return why.rfind("the ", 0) == 0 && why.find("refused") != std::string::npos
                   ? (why.find("sound") != std::string::npos || why.find("audio") != std::string::npos
                          ? destinationAudioRefused
                          : destinationFormatRefused)
                   : destinationCannotCreate;
    }
    return destinationCreated;
}

}  // namespace

RunResult CreateDestination(MediaState& media, AVICOMPRESSOPTIONS& options, const DestinationPrompts& prompts,
                            const char* path, bool continuation, std::int32_t outputHeight, const FrameRate& outputRate,
                            std::int32_t pictureRows) {
    SourceMedia& s = media.source;
    DestinationMedia& d = media.destination;
    d.frameFormat = s.frameFormat;
    d.frameFormat.header.biHeight = outputHeight;
    d.frameFormat.header.biSizeImage = s.stride * static_cast<std::uint32_t>(outputHeight);
    DestinationRate(outputRate, &d.videoRate, &d.videoScale);
    // Options nobody will choose again (given in advance) that the
    // compressor can't take are refused before anything is replaced or written.
    if (!continuation && !prompts.options.present) {
        const std::string refusal = AviCompressorRefusal(options.fccHandler, d.frameFormat.header.biWidth, outputHeight,
                                                         d.videoRate, d.videoScale, &options);
        if (!refusal.empty()) {
            d.failureDetail = refusal;
            return destinationFormatRefused;
        }
    }
    const OutputContainer container = OutputContainerOf(path);
    if (container != OutputContainer::avi && !continuation && !prompts.options.present &&
        !ContainerTakesCompressor(container, options.fccHandler)) {
        d.failureDetail = std::string("the ") + OutputContainerName(container) + " container takes no such compressor";
        return destinationFormatRefused;
    }
    if (FileExists(path)) {
        // --yes or a careless Yes must never remove a device, a FIFO or a folder.
        if (const char* what = nullptr; !IsReplaceable(path, &what)) {
            d.failureDetail = std::string(path) + " is " + what + ", not a file that can be replaced";
            return destinationCannotCreate;
        }
        if (!AskOverwrite(prompts, path)) return destinationDeclined;
        if (!DeleteFileUnlessHeld(path, &d.failureDetail)) return destinationCannotCreate;
    }
    if (container != OutputContainer::avi)
        return CreateLavDestination(media, options, prompts, path, container, outputRate,
                                    pictureRows > 0 ? pictureRows : outputHeight);
    errno = 0;
    if (AVIFileOpenA(&d.file, path, OF_CREATE | OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK) {
        const int error = errno;
        d.file = nullptr;
        d.failureDetail = std::string(path) + ": " +
                          (error == EWOULDBLOCK ? "open in another run"
                           : error != 0         ? std::strerror(error)
                                                : "not a file that can be written");
        return destinationCannotCreate;
    }
    const auto fail = [&](RunResult result) {
        failWith(d, result);
        LeaveEmptyAvi(path, s, outputHeight, outputRate);
        return result;
    };
    if (!continuation) {
        AVICOMPRESSOPTIONS* list[1] = {&options};
        PAVISTREAM streams[1] = {nullptr};  // the choice depends on the run's frame format alone
        const bool confirmed = AVISaveOptions(prompts.owner, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, 1, streams,
                                              list, &prompts.options) != 0;
        AVISaveOptionsFree(1, list);
        if (!confirmed) return fail(destinationDeclined);
    }

    AVISTREAMINFOA video = s.videoInfo;
    video.fccHandler = options.fccHandler;
    video.dwQuality = options.dwQuality;
    video.rcFrame.bottom = outputHeight;
    video.dwStart = 0;
    video.dwLength = 0;
    video.dwRate = d.videoRate;
    video.dwScale = d.videoScale;
    if (AVIFileCreateStreamA(d.file, &d.videoStream, &video) != AVIERR_OK) {
        d.videoStream = nullptr;
        return fail(destinationNoStream);
    }
    AVICOMPRESSOPTIONS copy = options;
    if (AVIMakeCompressedStream(&d.compressedStream, d.videoStream, &copy, nullptr) != AVIERR_OK) {
        d.compressedStream = nullptr;
        return fail(destinationNoStream);
    }
    if (AVIStreamSetFormat(d.compressedStream, 0, &d.frameFormat, sizeof d.frameFormat) != AVIERR_OK)
        return fail(destinationFormatRefused);
    if (!s.hasAudio) return destinationCreated;

    if (!continuation) {
        const AudioChunking c =
            ComputeAudioChunking(options.dwInterleaveEvery, outputRate, s.audioFormat, &s.audioInfo);
        d.framesPerAudioChunk = c.framesPerAudioChunk;
        d.samplesPerAudioChunk = c.samplesPerAudioChunk;
        FreeFrameBuffer(d.audioChunk);  // a buffer left by an earlier run
        d.audioChunkBytes = 0;
        if (c.audioChunkBytes <= maxAudioChunkBytes) d.audioChunk = AllocateFrameBuffer(c.audioChunkBytes);
        if (!d.audioChunk) {
            CloseMedia(media, path, false);
            return destinationNoMemory;
        }
        d.audioChunkBytes = static_cast<std::uint32_t>(c.audioChunkBytes);
    }
    AVISTREAMINFOA audio = s.audioInfo;
    audio.dwStart = 0;
    audio.dwLength = 0;
    if (AVIFileCreateStreamA(d.file, &d.audioStream, &audio) != AVIERR_OK) {
        d.audioStream = nullptr;
        return fail(destinationNoStream);
    }
    if (AVIStreamSetFormat(d.audioStream, 0, &s.audioFormat, sizeof s.audioFormat) != AVIERR_OK)
        return fail(destinationAudioRefused);
    return destinationCreated;
}

bool WriteDestinationFrame(DestinationMedia& d, std::int32_t position, const std::uint8_t* frame, std::int32_t bytes,
                           bool key, bool repeat, std::int32_t* written) {
    *written = 0;
    if (d.output) return WriteLavFrame(d.output, frame, key, repeat);
    return AVIStreamWrite(d.compressedStream, position, 1, frame, bytes, key ? AVIIF_KEYFRAME : 0, nullptr, written) ==
           AVIERR_OK;
}

bool WriteDestinationAudio(DestinationMedia& d, std::int32_t position, std::int32_t samples, const std::uint8_t* buffer,
                           std::int32_t bytes, std::int32_t* written) {
    *written = 0;
    if (d.output) return WriteLavAudio(d.output, buffer, samples);
    return AVIStreamWrite(d.audioStream, position, samples, buffer, bytes, 0, nullptr, written) == AVIERR_OK;
}

bool DestinationCarriesStoredAudio(const DestinationMedia& d) { return LavOutputCopiesAudio(d.output); }

bool CarryDestinationAudio(DestinationMedia& d) { return CopyLavAudio(d.output); }

bool DestinationTakesAudio(const DestinationMedia& d) { return d.audioStream || (d.output && d.audioChunk); }

bool DestinationSplits(const DestinationMedia& d) { return !d.output; }

bool DestinationUsesRepeats(const DestinationMedia& d) { return d.output != nullptr; }

bool CompleteDestination(DestinationMedia& d) {
    if (d.output) return FinishLavOutput(d.output);
    return AviFileComplete(d.file) == AVIERR_OK;
}

const char* DestinationFailure(const DestinationMedia& d) {
    return d.output ? LavOutputFailure(d.output) : AviFileFailure(d.file);
}
