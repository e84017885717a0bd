#include "job/conversion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "core/messages.h"
#include "media/destination.h"
#include "media/source.h"
#include "platform/threads.h"
#include "platform/ticks.h"

namespace {

// How a step ended: carry on (no value), or end the run with a result.
using StepEnd = std::optional<RunResult>;
constexpr StepEnd keepGoing = std::nullopt;

// The kernels work byte by byte, so a frame's rows can be split into two
// bands at an even row (field parities stay) and the second band computed by
// another thread while the worker computes the first.
struct BandHelper {
    std::thread thread;
    std::mutex lock;
    std::condition_variable wake;
    bool pending = false, quit = false;
    // The step to compute: the context of the band and the kernel's arguments.
    KernelContext context;
    int intMethod = 0, fieldParity = 0;
    double intRange = 0;
    StepPosition position{};
    bool bothFields = false, interlacedOutput = false;

    void Loop() {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            wake.wait(hold, [this] { return pending || quit; });
            if (quit) return;
            hold.unlock();
            RunStepKernel(context, intMethod, intRange, position, bothFields, interlacedOutput, fieldParity);
            hold.lock();
            pending = false;
            wake.notify_all();
        }
    }
    ~BandHelper() {
        if (!thread.joinable()) return;
        {
            std::lock_guard<std::mutex> hold(lock);
            quit = true;
        }
        wake.notify_all();
        thread.join();
    }
};

// Below this a frame is done before a second thread would have woken up.
constexpr std::size_t bandSplitBytes = 512 * 1024;

struct Pipeline {
    ConversionRun& run;
    ConversionSettings& settings;
    MediaState& media;
    ConversionJob& job;
    FrameRing ring;
    SlotPreparation prep;
    KernelContext kernel;
    int intMethod;
    std::size_t frameBytes;
    BandHelper* bands = nullptr;  // null: the whole frame on this thread
    FrameRing secondRing;         // the ring's slots from the split row on
    KernelContext firstBand, secondBand;
};

void RunKernel(Pipeline& p, const StepPosition& position) {
    const ConversionJob& job = p.job;
    const double range = p.settings.intRange;
    if (!p.bands) {
        RunStepKernel(p.kernel, p.intMethod, range, position, job.plan.bothFields, job.plan.interlacedOutput,
                      job.fieldParity);
        return;
    }
    BandHelper& h = *p.bands;
    {
        std::lock_guard<std::mutex> hold(h.lock);
        h.context = p.secondBand;
        h.intMethod = p.intMethod;
        h.intRange = range;
        h.position = position;
        h.bothFields = job.plan.bothFields;
        h.interlacedOutput = job.plan.interlacedOutput;
        h.fieldParity = job.fieldParity;
        h.pending = true;
    }
    h.wake.notify_all();
    RunStepKernel(p.firstBand, p.intMethod, range, position, job.plan.bothFields, job.plan.interlacedOutput,
                  job.fieldParity);
    std::unique_lock<std::mutex> hold(h.lock);
    h.wake.wait(hold, [&h] { return !h.pending; });
}

bool Stopped(const ConversionRun& run) { return run.control && run.control->stopRequested.load() != 0; }
bool Paused(const ConversionRun& run) { return run.control && run.control->pauseRequested.load() != 0; }

void CloseDestination(MediaState& media) { CloseMedia(media, nullptr, true); }

// Closes the destination on every way out of a run that created it.
struct DestinationGuard {
    MediaState& media;
    ~DestinationGuard() { CloseDestination(media); }
};

bool AskYesNo(const ConversionRun& run, MessageId textId) {
    return ShowMessage(UserCallsOf(run.frontEnd), run.owner, IDS_CAPTION, textId, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

void Report(const ConversionRun& run, std::uint32_t index, std::uint32_t total) {
    ReportProgress(run.frontEnd, index, total, run.job->startTicks, GetTickCount(), run.savedMainTitle);
}

void CopySlot(Pipeline& p, int to, int from) { std::memcpy(p.ring.slots[to], p.ring.slots[from], p.frameBytes); }

enum class Fetched { frame, sourceEnded, stopped };

// Fetches frame f, or the next decodable one, into `slot` in the destination
// geometry.
Fetched FetchFrame(Pipeline& p, int slot, std::int64_t f) {
    const SourceMedia& source = p.media.source;
    const std::int64_t length = source.videoInfo.dwLength;
    const std::int64_t start = source.videoInfo.dwStart;
    for (std::int64_t index = f; index < length; ++index) {
        const std::int64_t position = start + index;
        const void* picture = nullptr;
        if (position >= INT32_MIN && position <= INT32_MAX)
            picture = AVIStreamGetFrame(source.frameGetter, static_cast<std::int32_t>(position));
        if (Stopped(p.run)) return Fetched::stopped;
        if (!picture) continue;
        std::memcpy(p.ring.slots[slot], static_cast<const std::uint8_t*>(picture) + sizeof(BITMAPINFOHEADER),
                    p.job.sourceFrameBytes);
        PrepareSlot(p.prep, p.ring, slot);
        return Fetched::frame;
    }
    return Fetched::sourceEnded;
}

// Brings the ring up to baseFrame: shifts by whole-frame copies when it
// advanced by one, fetches the rest, and repeats the last frame past the end
// of the source. Ends with conversionDone when the source ended, or a stop.
StepEnd RefillRing(Pipeline& p) {
    const ConversionJob& job = p.job;
    const bool advanced = job.baseFrame - 1 == job.lastBaseFrame;
    const bool pairs = job.plan.bothFields;
    const int m = p.intMethod;
    for (int slot = 0; slot <= 4; ++slot) {
        if (!MethodUsesSlot(m, slot)) continue;
        bool copy = false;
        switch (slot) {
            case 0:
            case 1: copy = advanced; break;
            case 2: copy = advanced && m != 0; break;
            case 3: copy = advanced && ((m >= 3 && m <= 7) || m == 9); break;
            default: copy = false; break;
        }
        if (copy) {
            CopySlot(p, slot, slot + 1);
            if (pairs && slot >= 1) CopySlot(p, slot + 4, slot + 5);
            continue;
        }
        const Fetched got = FetchFrame(p, slot, job.baseFrame - 2 + slot);
        if (got == Fetched::stopped) return conversionStopped;
        if (got == Fetched::frame) continue;
        // The source ended before a frame was found.
        if (slot <= 2) return conversionDone;
        const int from = pairs ? slot + 3 : slot - 1;  // the second field before it, or the frame before it
        CopySlot(p, slot, from);
        if (pairs) CopySlot(p, slot + 4, from);
    }
    return keepGoing;
}

StepEnd AudioStep(Pipeline& p) {
    SourceMedia& source = p.media.source;
    DestinationMedia& dest = p.media.destination;
    ConversionJob& job = p.job;
    if (!source.audioStream || !dest.audioStream) return keepGoing;
    if (job.audioChunkCounter == 0) {
        const double r = job.audioPosition - job.segmentAudioStart;
        const double first = std::trunc(r);
        const double count = std::trunc(r + dest.samplesPerAudioChunk) - first;
        const double from = std::trunc(job.audioPosition) + source.audioInfo.dwStart;
        std::int32_t bytes = 0, samples = 0;
        const bool read = from <= INT32_MAX && count <= INT32_MAX &&
                          AVIStreamRead(source.audioStream, static_cast<std::int32_t>(from),
                                        static_cast<std::int32_t>(count), dest.audioChunk,
                                        static_cast<std::int32_t>(dest.audioChunkBytes), &bytes, &samples) == AVIERR_OK;
        if (!read) {
            // Silence of the requested length keeps the audio in step with the video.
            std::memset(dest.audioChunk, 0, dest.audioChunkBytes);
            samples = static_cast<std::int32_t>(count);
            const std::uint64_t silence = static_cast<std::uint64_t>(count) * source.audioFormat.nChannels *
                                          (source.audioFormat.wBitsPerSample / 8);
            bytes = static_cast<std::int32_t>(silence < dest.audioChunkBytes ? silence : dest.audioChunkBytes);
        }
        std::int32_t written = 0;
        if (AVIStreamWrite(dest.audioStream, static_cast<std::int32_t>(first), samples, dest.audioChunk, bytes, 0,
                           nullptr, &written) != AVIERR_OK)
            return conversionAudioFailed;
        job.audioPosition += dest.samplesPerAudioChunk;
        job.segmentBytes += static_cast<std::uint32_t>(written);
    }
    if (++job.audioChunkCounter >= dest.framesPerAudioChunk) job.audioChunkCounter = 0;
    return keepGoing;
}

StepEnd SegmentCheck(Pipeline& p) {
    ConversionJob& job = p.job;
    ConversionSettings& settings = p.settings;
    if (job.segmentBytes <= job.segmentLimit) return keepGoing;
    if (!settings.segment && !job.segmentQuestionAsked) {
        if (!AskYesNo(p.run, IDS_ASK_SEGMENTING)) return conversionStopped;
        job.segmentQuestionAsked = true;
    }
    CloseDestination(p.media);
    const std::string destination = settings.destinationPath;
    if (job.segmentIndex == 0) {
        const std::string first = SegmentName(destination, 0);
        if (FileExists(first.c_str())) {
            if (!AskOverwrite(DestinationPromptsOf(p.run.frontEnd, p.run.owner), first.c_str())) return conversionStopped;
            if (!DeleteFileUnlessHeld(first.c_str())) return conversionCannotRename;
        }
        if (std::rename(destination.c_str(), first.c_str()) != 0) return conversionCannotRename;
    }
    ++job.segmentIndex;
    const std::string next = SegmentName(destination, job.segmentIndex);
    const RunResult created = CreateDestination(p.media, settings.pOptions,
                                                DestinationPromptsOf(p.run.frontEnd, p.run.owner), next.c_str(), true,
                                                job.geometry.frameRows, settings.dstRate);
    if (created != destinationCreated) return created;
    job.segmentBytes = 0;
    job.segmentStartFrame = job.framesWritten;
    job.segmentAudioStart = job.audioPosition;
    job.audioChunkCounter = 0;
    job.keyFrameCounter = 0;
    return keepGoing;
}

// Sleeps at idle priority while paused; the stop flag still ends the run.
StepEnd PauseWhileRequested(Pipeline& p) {
    if (!Paused(p.run)) return keepGoing;
    const pid_t self = CurrentThreadId();
    const int remembered = GetThreadPriority(self);
    SetThreadPriority(self, THREAD_PRIORITY_IDLE);
    StepEnd result = keepGoing;
    while (Paused(p.run)) {
        Sleep(100);
        if (Stopped(p.run)) {
            result = conversionStopped;
            break;
        }
    }
    SetThreadPriority(self, remembered);
    return result;
}

// Writes the finished OutputFrame and runs everything that follows a written frame.
StepEnd FrameWritten(Pipeline& p) {
    ConversionJob& job = p.job;
    DestinationMedia& dest = p.media.destination;
    const std::uint32_t keyFrameEvery = p.settings.pOptions.dwKeyFrameEvery;
    std::int32_t written = 0;
    if (AVIStreamWrite(dest.compressedStream, static_cast<std::int32_t>(job.framesWritten - job.segmentStartFrame), 1,
                       p.kernel.output, static_cast<std::int32_t>(p.frameBytes),
                       job.keyFrameCounter == 0 ? AVIIF_KEYFRAME : 0, nullptr, &written) != AVIERR_OK)
        return conversionCannotWrite;
    job.segmentBytes += static_cast<std::uint32_t>(written);
    if (++job.keyFrameCounter, keyFrameEvery != 0 && job.keyFrameCounter >= keyFrameEvery) job.keyFrameCounter = 0;
    if (StepEnd r = AudioStep(p)) return r;
    if (++job.progressCounter > 10) {
        Report(p.run, job.stepIndex, job.plan.stepCount);
        job.progressCounter = 0;
    }
    if (Stopped(p.run)) return conversionStopped;
    if (StepEnd r = PauseWhileRequested(p)) return r;
    ++job.framesWritten;
    return SegmentCheck(p);
}

// Replacing the open source with its own output would delete it while it is
// being read (Linux lets an open file be removed): the output can't be created there.
bool IsSourceFile(const ConversionSettings& s) {
    struct stat source {}, destination {};
    return stat(s.sourcePath, &source) == 0 && stat(s.destinationPath, &destination) == 0 &&
           source.st_dev == destination.st_dev && source.st_ino == destination.st_ino;
}

bool SettingsInRange(const ConversionSettings& s) {
    const int method = static_cast<int>(s.intMethod), deint = static_cast<int>(s.deint);
    const int deintRes = static_cast<int>(s.deintRes), letterbox = static_cast<int>(s.letterbox);
    return method >= 0 && method < interpolationMethodCount && deint >= 0 && deint < deinterlaceModeCount &&
           deintRes >= 0 && deintRes < interlaceResampleMethodCount && letterbox >= 0 &&
           letterbox < letterboxModeCount && s.outputHeight >= 1 && s.outputHeight <= 32767;
}

}  // namespace

RunResult RunConversion(ConversionRun& run) {
    ConversionSettings& settings = *run.settings;
    MediaState& media = *run.media;
    ConversionJob& job = *run.job;
    SourceMedia& source = media.source;
    FrameBuffers& buffers = media.buffers;

    // Values only a hand-edited settings store can hold would make frames
    // of no defined form: refuse them as a format the output can't take.
    if (!SettingsInRange(settings)) return destinationFormatRefused;
    if (IsSourceFile(settings)) return destinationCannotCreate;

    const int width = static_cast<int>(source.frameFormat.header.biWidth);
    const int sourceRows = static_cast<int>(source.frameFormat.header.biHeight);
    job.geometry = ComputeFrameGeometry(width, sourceRows, settings.outputHeight, static_cast<int>(settings.letterbox));
    job.sourceFrameBytes = source.frameFormat.header.biSizeImage;

    const RunResult created = CreateDestination(media, settings.pOptions, DestinationPromptsOf(run.frontEnd, run.owner),
                                                settings.destinationPath, false, job.geometry.frameRows,
                                                settings.dstRate);
    if (created != destinationCreated) return created;
    const DestinationGuard closeOnReturn{media};

    const int deint = static_cast<int>(settings.deint), deintRes = static_cast<int>(settings.deintRes);
    const bool pairs = IsFieldPairMode(deint);
    const std::size_t frameBytes = media.destination.frameFormat.header.biSizeImage;
    const std::size_t bufferBytes = frameBytes > job.sourceFrameBytes ? frameBytes : job.sourceFrameBytes;

    // What an earlier run left goes first; then the ring, OutputFrame, ScratchFrame.
    FreeFrameBuffers(buffers);
    bool allocated = true;
    for (int slot = 0; slot < (pairs ? ringSlotCount : 5) && allocated; ++slot)
        allocated = (buffers.ring[slot] = AllocateFrameBuffer(bufferBytes)) != nullptr;
    if (allocated) allocated = (buffers.outputFrame = AllocateFrameBuffer(bufferBytes)) != nullptr;
    if (allocated) allocated = (buffers.scratchFrame = AllocateFrameBuffer(bufferBytes)) != nullptr;
    if (!allocated) {
        CloseMedia(media, settings.destinationPath, false);
        return conversionNoMemory;
    }
    std::memset(buffers.scratchFrame, 0, frameBytes);  // letterbox bars stay black all run
    // A method no kernel serves writes black rather than leftover memory.
    std::memset(buffers.outputFrame, 0, frameBytes);

    job.plan = PlanRun(source.videoInfo.dwRate, source.videoInfo.dwScale, source.videoInfo.dwLength,
                       settings.srcSpeed, settings.dstRate, deint, deintRes);
    const std::uint64_t limit = job.segmentLimit;
    job = ConversionJob{job.geometry, job.plan, job.sourceFrameBytes};
    job.segmentLimit = limit;
    job.fieldParity = job.plan.firstFieldParity;
    job.lastBaseFrame = -99999;
    job.startTicks = GetTickCount();

    Pipeline p{run, settings, media, job, {}, {}, {}, static_cast<int>(settings.intMethod), frameBytes, nullptr, {}, {}, {}};
    for (int slot = 0; slot < ringSlotCount; ++slot) p.ring.slots[slot] = buffers.ring[slot];
    p.prep.geometry = job.geometry;
    p.prep.deint = deint;
    p.prep.rowResampleMethod = job.plan.rowResampleMethod;
    p.prep.resample = ResampleContext{buffers.scratchFrame, job.geometry.stride, run.tables, run.kernels};
    p.kernel = KernelContext{&p.ring, buffers.outputFrame, job.geometry.stride, job.geometry.frameRows, frameBytes,
                             run.tables, run.kernels};
    BandHelper bands;
    const int splitRow = (job.geometry.frameRows / 2) & ~1;
    if (run.splitBands && frameBytes >= bandSplitBytes && splitRow >= 2 && std::thread::hardware_concurrency() > 1) {
        try {
            bands.thread = std::thread([&bands] { bands.Loop(); });
            p.bands = &bands;
        } catch (...) {
            // No second thread: the whole frame on this one.
        }
    }
    if (p.bands) {
        const std::size_t splitAt = static_cast<std::size_t>(splitRow) * static_cast<std::size_t>(job.geometry.stride);
        for (int slot = 0; slot < ringSlotCount; ++slot)
            p.secondRing.slots[slot] = p.ring.slots[slot] ? p.ring.slots[slot] + splitAt : nullptr;
        p.firstBand = p.kernel;
        p.firstBand.frameRows = splitRow;
        p.firstBand.frameBytes = splitAt;
        p.secondBand = p.kernel;
        p.secondBand.ring = &p.secondRing;
        p.secondBand.output = p.kernel.output + splitAt;
        p.secondBand.frameRows = job.geometry.frameRows - splitRow;
        p.secondBand.frameBytes = frameBytes - splitAt;
    }

    for (job.stepIndex = 0; job.stepIndex < job.plan.stepCount; ++job.stepIndex) {
        const StepPosition position = PositionOfStep(job.stepIndex, job.plan.sourceStep, pairs);
        job.baseFrame = position.baseFrame;
        if (job.baseFrame != job.lastBaseFrame) {
            const StepEnd r = RefillRing(p);
            if (r == conversionDone) break;
            if (r) return *r;
        }
        RunKernel(p, position);
        if (CompletesFrame(job.plan.interlacedOutput, deintRes, job.fieldParity)) {
            if (const StepEnd r = FrameWritten(p)) return *r;
        }
        job.lastBaseFrame = job.baseFrame;
        job.fieldParity = 1 - job.fieldParity;
    }
    Report(run, job.plan.stepCount, job.plan.stepCount);
    return conversionDone;
}
