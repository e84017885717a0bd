#include "job/conversion.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "core/messages.h"
#include "media/destination.h"
#include "media/source.h"
#include "platform/helper_thread.h"
#include "platform/threads.h"
#include "platform/ticks.h"

namespace {

// How a step ended: carry on (no value), or end the run with a result.
using StepEnd = std::optional<RunResult>;
constexpr StepEnd keepGoing = std::nullopt;

// The kernels work byte by byte, so a frame's rows can be split into bands
// at even rows (field parities stay) and the bands computed at once: band 0
// on the worker, each other band on a helper thread of its own.
struct BandPool;
struct BandWork {
    BandPool* pool = nullptr;
    int band = 0;
};
struct BandPool {
    std::unique_ptr<HelperThread[]> helpers;  // band k runs on helpers[k - 1]
    std::vector<BandWork> work;
    std::vector<std::size_t> offsets;  // first byte of every band, then frameBytes
    std::vector<int> firstRows;
    std::vector<FrameRing> rings;
    std::vector<KernelContext> contexts;
    // The step to compute, shared by every band.
    int intMethod = 0, fieldParity = 0;
    double intRange = 0;
    StepPosition position{};
    bool bothFields = false, interlacedOutput = false;
    // Row work of a slot's preparation, when set, instead of the step.
    void (*rowWork)(void* context, int firstRow, int endRow) = nullptr;
    void* rowContext = nullptr;

    void RunBand(int band) {
        if (rowWork)
            rowWork(rowContext, firstRows[band], firstRows[band + 1]);
        else
            RunStepKernel(contexts[band], intMethod, intRange, position, bothFields, interlacedOutput, fieldParity);
    }
    static void Compute(void* work) {
        const BandWork& w = *static_cast<const BandWork*>(work);
        w.pool->RunBand(w.band);
    }
    // Every band at once: band 0 here, the others on their helpers. Posting
    // orders memory, so the helpers see what was written before.
    void RunAll() {
        const int count = static_cast<int>(contexts.size());
        for (int band = 1; band < count; ++band) helpers[band - 1].Post();
        RunBand(0);
        for (int band = 1; band < count; ++band) helpers[band - 1].Wait();
    }
    static void ForEachBand(void* pool, void (*work)(void*, int, int), void* context) {
        BandPool& b = *static_cast<BandPool*>(pool);
        b.rowWork = work;
        b.rowContext = context;
        b.RunAll();
        b.rowWork = nullptr;
    }
};

// Below this per band a frame is done before another thread would have woken up.
constexpr std::size_t bandSplitBytes = 128 * 1024;

// The cores this process may run on.
int UsableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

struct WriteBehind;

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
    BandPool* bands = nullptr;      // null: the whole frame on this thread
    WriteBehind* writer = nullptr;  // null: frames written on this thread
    FrameMethodState frameMethod;   // a frame method's state across steps
    bool handedFrame = false;       // the writer has had a frame of this run
};

// Points the kernels, every band included, at another OutputFrame.
void SetOutputFrame(Pipeline& p, std::uint8_t* frame) {
    p.kernel.output = frame;
    if (!p.bands) return;
    for (std::size_t band = 0; band < p.bands->contexts.size(); ++band)
        p.bands->contexts[band].output = frame + p.bands->offsets[band];
}

void RunKernel(Pipeline& p, const StepPosition& position) {
    const ConversionJob& job = p.job;
    const double range = p.settings.intRange;
    if (p.frameMethod.cuts && HoldAcrossCut(p.frameMethod, p.kernel, p.prep.split, p.intMethod, range, position,
                                            job.plan.bothFields, job.plan.interlacedOutput, job.fieldParity))
        return;
    if (p.frameMethod.method)  // whole frames, its own work shared over the bands
        return RunFrameStep(p.frameMethod, p.kernel, p.prep.split, p.intMethod, range, position, job.plan.bothFields,
                            job.plan.interlacedOutput, job.fieldParity);
    if (!p.bands) {
        RunStepKernel(p.kernel, p.intMethod, range, position, job.plan.bothFields, job.plan.interlacedOutput,
                      job.fieldParity);
        return;
    }
    BandPool& b = *p.bands;
    const int count = static_cast<int>(b.contexts.size());
    // The ring's slots rotate as it advances: every band's view follows.
    for (int band = 0; band < count; ++band)
        for (int slot = 0; slot < ringSlotCount; ++slot)
            b.rings[band].slots[slot] = p.ring.slots[slot] ? p.ring.slots[slot] + b.offsets[band] : nullptr;
    b.intMethod = p.intMethod;
    b.intRange = range;
    b.position = position;
    b.bothFields = job.plan.bothFields;
    b.interlacedOutput = job.plan.interlacedOutput;
    b.fieldParity = job.fieldParity;
    b.RunAll();
}

// Splits the frame into up to `threads` bands of even row counts and starts
// a helper per band after the first. False when one band is all there is.
bool StartBands(Pipeline& p, BandPool& b, int threads) {
    const int rows = p.job.geometry.frameRows;
    const std::size_t stride = static_cast<std::size_t>(p.job.geometry.stride);
    const std::size_t widest = std::max<std::size_t>(1, p.frameBytes / bandSplitBytes);
    const int count = std::min({threads, rows / 2, static_cast<int>(std::min<std::size_t>(widest, 64))});
    if (count < 2) return false;
    for (int band = 0; band < count; ++band) {
        const int first = (rows * band / count) & ~1;
        b.firstRows.push_back(first);
        b.offsets.push_back(static_cast<std::size_t>(first) * stride);
    }
    b.firstRows.push_back(rows);
    b.offsets.push_back(p.frameBytes);
    b.rings.resize(count);
    for (int band = 0; band < count; ++band) {
        KernelContext c = p.kernel;
        c.ring = &b.rings[band];
        c.output = p.kernel.output + b.offsets[band];
        c.frameRows = b.firstRows[band + 1] - b.firstRows[band];
        c.frameBytes = b.offsets[band + 1] - b.offsets[band];
        b.contexts.push_back(c);
    }
    b.work.resize(count);
    b.helpers = std::make_unique<HelperThread[]>(count - 1);
    for (int band = 1; band < count; ++band) {
        b.work[band] = BandWork{&b, band};
        // Fewer threads than bands can't finish a step: then all on this one.
        if (!b.helpers[band - 1].Start(BandPool::Compute, &b.work[band])) return false;
    }
    return true;
}

StepEnd Settle(Pipeline& p);

bool Stopped(const ConversionRun& run) { return run.control && run.control->stopRequested.load() != 0; }
bool Paused(const ConversionRun& run) { return run.control && run.control->pauseRequested.load() != 0; }

void CloseDestination(MediaState& media) { CloseMedia(media, nullptr, true); }

// Closes the destination on every way out of a run that created it.
struct DestinationGuard {
    MediaState& media;
    ~DestinationGuard() { CloseDestination(media); }
};

// The file being written now: the destination, or the segment that continues it.
std::string CurrentFile(const Pipeline& p) {
    return p.job.segmentIndex == 0 ? std::string(p.settings.destinationPath)
                                   : SegmentName(p.settings.destinationPath, p.job.segmentIndex);
}

// Keeps the writer's words for a failed write (a full disk, an encoder's
// refusal) and where it happened, for the front end to show under the message.
RunResult WriteFailed(Pipeline& p, RunResult result, const std::string& what) {
    const char* cause = DestinationFailure(p.media.destination);
    p.media.destination.failureDetail =
        std::string(*cause ? cause : "the file took no more data") + ", writing " + what + " to " + CurrentFile(p);
    return result;
}

// Before a file is closed for good: it must still have its name (a file
// deleted while it was written, its folder removed say, takes the frames with
// it) and its index and headers must reach the disk. Either failing is a
// failed write, never success.
StepEnd CompleteFile(Pipeline& p) {
    if (p.media.destination.file && !AviFileStillLinked(p.media.destination.file)) {
        p.media.destination.failureDetail = CurrentFile(p) + " was deleted while it was being written";
        return conversionCannotWrite;
    }
    if (!CompleteDestination(p.media.destination)) return WriteFailed(p, conversionCannotWrite, "the index");
    return keepGoing;
}

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
    SourceMedia& source = p.media.source;
    const std::int64_t length = source.videoInfo.dwLength;
    for (std::int64_t index = f; index < length; ++index) {
        const std::uint8_t* picture = SourcePicture(source, index);
        if (Stopped(p.run)) return Fetched::stopped;
        if (!picture) continue;
        std::memcpy(p.ring.slots[slot], picture, p.job.sourceFrameBytes);
        PrepareSlot(p.prep, p.ring, slot);
        return Fetched::frame;
    }
    return Fetched::sourceEnded;
}

// Brings the ring up to baseFrame: shifts by rotating slots when it
// advanced by one, fetches the rest, and repeats the last frame past the end
// of the source. Ends with conversionDone when the source ended, or a stop.
StepEnd RefillRing(Pipeline& p) {
    const ConversionJob& job = p.job;
    const bool advanced = job.baseFrame - 1 == job.lastBaseFrame;
    const bool pairs = job.plan.bothFields;
    const int m = p.intMethod;
    for (int slot = 0; slot <= 4; ++slot) {
        if (!MethodUsesSlot(m, slot)) continue;
        // One frame on, this slot's frame is the one above it, if the method read that one too.
        if (advanced && MethodUsesSlot(m, slot + 1)) {
            // Rotating the pointers gives the kernels the bytes a copy would;
            // the buffer that moves up is refilled or rotated on before use.
            std::swap(p.ring.slots[slot], p.ring.slots[slot + 1]);
            if (pairs && slot >= 1) std::swap(p.ring.slots[slot + 4], p.ring.slots[slot + 5]);
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

// Bytes of one PCM sample as the source reader and our writer count them:
// the stream's fixed sample size, else the block.
std::uint32_t AudioSampleBytes(const SourceMedia& source) {
    return source.audioInfo.dwSampleSize ? source.audioInfo.dwSampleSize : source.audioFormat.nBlockAlign;
}

// The byte that plays as silence: 8-bit PCM is unsigned.
std::uint8_t SilenceByte(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 8 ? 0x80 : 0;
}

// Writes source samples [from, from + count) at their place in the current
// file, in pieces the chunk buffer holds. What the source can't give (it
// ended, or a read failed) becomes silence, so positions stay contiguous.
StepEnd WriteAudioSamples(Pipeline& p, std::int64_t from, std::int64_t count, std::uint32_t sampleBytes) {
    SourceMedia& source = p.media.source;
    DestinationMedia& dest = p.media.destination;
    ConversionJob& job = p.job;
    const std::int64_t perPiece = sampleBytes ? dest.audioChunkBytes / sampleBytes : 0;
    if (perPiece == 0) return WriteFailed(p, conversionAudioFailed, "audio");
    while (count > 0) {
        const std::int64_t n = count < perPiece ? count : perPiece;
        const std::int64_t readAt = from + source.audioInfo.dwStart;
        const std::int64_t writeAt = from - job.segmentAudioStart;
        if (writeAt > INT32_MAX) return WriteFailed(p, conversionAudioFailed, "audio");
        std::int32_t bytes = 0, samples = 0;
        if (readAt > INT32_MAX ||
            !ReadSourceAudio(source, static_cast<std::int32_t>(readAt), static_cast<std::int32_t>(n), dest.audioChunk,
                             static_cast<std::int32_t>(dest.audioChunkBytes), &bytes, &samples))
            samples = 0;
        const std::size_t wanted = static_cast<std::size_t>(n) * sampleBytes;
        const std::size_t got = static_cast<std::size_t>(samples < 0 ? 0 : samples > n ? n : samples) * sampleBytes;
        std::memset(dest.audioChunk + got, SilenceByte(source.audioFormat), wanted - got);
        std::int32_t written = 0;
        if (!WriteDestinationAudio(dest, static_cast<std::int32_t>(writeAt), static_cast<std::int32_t>(n),
                                   dest.audioChunk, static_cast<std::int32_t>(wanted), &written))
            return WriteFailed(p, conversionAudioFailed, "audio");
        job.segmentBytes += static_cast<std::uint32_t>(written);
        from += n;
        count -= n;
    }
    return keepGoing;
}

// The byte that plays as silence in stored sound whose every sample is one
// byte: A-law and µ-law. Other compressed sound has no silence we could
// write without its encoder.
std::optional<std::uint8_t> StoredSilenceByte(const WAVEFORMATEX& format) {
    constexpr std::uint16_t aLaw = 6, muLaw = 7;
    if (format.wFormatTag == aLaw) return 0xD5;
    if (format.wFormatTag == muLaw) return 0xFF;
    return std::nullopt;
}

// Appends `units` whole blocks of silence, in pieces the chunk buffer holds.
bool WriteStoredSilence(Pipeline& p, std::int64_t units, std::uint8_t silence) {
    DestinationMedia& dest = p.media.destination;
    const std::uint32_t unitBytes = p.media.source.audioInfo.dwSampleSize;
    const std::int64_t perPiece = dest.audioChunkBytes / unitBytes;
    if (perPiece == 0) return false;
    while (units > 0) {
        const std::int64_t n = units < perPiece ? units : perPiece;
        std::memset(dest.audioChunk, silence, static_cast<std::size_t>(n) * unitBytes);
        std::int32_t written = 0;
        if (AVIStreamWrite(dest.audioStream, -1, static_cast<std::int32_t>(n), dest.audioChunk,
                           static_cast<std::int32_t>(n * unitBytes), 0, nullptr, &written) != AVIERR_OK)
            return false;
        p.job.segmentBytes += static_cast<std::uint32_t>(written);
        units -= n;
    }
    return true;
}

// Compressed sound goes over as it was stored: the source's chunks (or
// blocks) whose time has come, whole and unchanged, appended in order. Where
// the source's sound ends before the video, blocks of a format with a silence
// of its own (A-law, µ-law) are padded with it up to the video's end; other
// formats are not made up (zero bytes are no silence there).
bool CarryStoredAudio(Pipeline& p) {
    SourceMedia& source = p.media.source;
    DestinationMedia& dest = p.media.destination;
    ConversionJob& job = p.job;
    // The units that start within this chunk's time.
    const double first = std::ceil(job.audioPosition);
    const double count = std::ceil(job.audioPosition + dest.samplesPerAudioChunk) - first;
    job.audioPosition += dest.samplesPerAudioChunk;
    const double from = first + source.audioInfo.dwStart;
    if (count < 1 || from + count > INT32_MAX) return true;
    // Chunks one at a time, each its own chunk in the output; blocks all at once.
    const bool byChunk = source.audioInfo.dwSampleSize == 0;
    const auto want = static_cast<std::int32_t>(byChunk ? 1 : count);
    for (std::int32_t k = 0; k < static_cast<std::int32_t>(count); k += want) {
        std::int32_t bytes = 0, samples = 0;
        if (!ReadSourceAudio(source, static_cast<std::int32_t>(from) + k, want, dest.audioChunk,
                             static_cast<std::int32_t>(dest.audioChunkBytes), &bytes, &samples))
            samples = 0;
        if (samples > 0) {
            std::int32_t written = 0;
            if (AVIStreamWrite(dest.audioStream, -1, samples, dest.audioChunk, bytes, 0, nullptr, &written) !=
                AVIERR_OK)
                return false;
            job.segmentBytes += static_cast<std::uint32_t>(written);
        }
        if (samples == want) continue;
        // The source's sound has ended.
        const std::optional<std::uint8_t> silence = StoredSilenceByte(source.audioFormat);
        if (byChunk || !silence) return true;
        const std::uint32_t frames = job.plan.interlacedOutput ? job.plan.stepCount / 2 : job.plan.stepCount;
        const double videoUnits = std::ceil(frames * dest.samplesPerAudioChunk / dest.framesPerAudioChunk);
        const double end = std::min(first + count, videoUnits);
        const double padded = first + k + samples;
        return padded >= end || WriteStoredSilence(p, static_cast<std::int64_t>(end - padded), *silence);
    }
    return true;
}

StepEnd AudioStep(Pipeline& p) {
    SourceMedia& source = p.media.source;
    DestinationMedia& dest = p.media.destination;
    ConversionJob& job = p.job;
    if (DestinationCarriesStoredAudio(dest))
        return CarryDestinationAudio(dest) ? keepGoing : WriteFailed(p, conversionAudioFailed, "audio");
    if (!source.hasAudio || !DestinationTakesAudio(dest)) return keepGoing;
    if (job.audioChunkCounter == 0 && !IsPcmAudio(source.audioFormat)) {
        if (!CarryStoredAudio(p)) return WriteFailed(p, conversionAudioFailed, "audio");
    } else if (job.audioChunkCounter == 0) {
        const std::int64_t from = job.audioNextSample;
        const auto end = static_cast<std::int64_t>(std::trunc(job.audioPosition + dest.samplesPerAudioChunk));
        const std::int64_t count = end > from ? end - from : 0;
        job.audioPosition += dest.samplesPerAudioChunk;
        job.audioNextSample = from + count;
        if (StepEnd r = WriteAudioSamples(p, from, count, AudioSampleBytes(source))) return r;
    }
    if (++job.audioChunkCounter >= dest.framesPerAudioChunk) job.audioChunkCounter = 0;
    return keepGoing;
}

// Whether the next frame, with the audio chunk that follows it and their
// index entries, could carry the file (closed with its index) past the limit
// plus its headroom. A compressed frame is taken at its uncompressed size
// with an eighth to spare. A file keeps at least one frame.
bool NextFramePassesCap(const Pipeline& p) {
    const ConversionJob& job = p.job;
    const DestinationMedia& dest = p.media.destination;
    if (job.framesWritten == job.segmentStartFrame) return false;
    constexpr std::uint64_t chunkCost = 8 + 1 + 16;  // header, padding, index entry
    std::uint64_t next = p.frameBytes + p.frameBytes / 8 + chunkCost;
    if (dest.audioStream && job.audioChunkCounter == 0) next += dest.audioChunkBytes + chunkCost;
    return job.segmentBytes + 8 + next > job.segmentLimit + SegmentHeadroom;
}

StepEnd SegmentCheck(Pipeline& p, bool beforeFrame = false) {
    ConversionJob& job = p.job;
    ConversionSettings& settings = p.settings;
    if (!DestinationSplits(p.media.destination)) return keepGoing;
    if (beforeFrame ? !NextFramePassesCap(p) : job.segmentBytes <= job.segmentLimit) return keepGoing;
    if (!settings.segment && !job.segmentQuestionAsked) {
        if (!AskYesNo(p.run, IDS_ASK_SEGMENTING)) return conversionStopped;
        job.segmentQuestionAsked = true;
    }
    if (StepEnd r = CompleteFile(p)) return r;
    CloseDestination(p.media);
    const std::string destination = settings.destinationPath;
    if (job.segmentIndex == 0) {
        const std::string first = SegmentName(destination, 0);
        if (FileExists(first.c_str())) {
            if (const char* what = nullptr; !IsReplaceable(first.c_str(), &what)) {
                p.media.destination.failureDetail = first + " is " + what + ", not a file that can be replaced";
                return conversionCannotRename;
            }
            if (!AskOverwrite(DestinationPromptsOf(p.run.frontEnd, p.run.owner), first.c_str()))
                return conversionStopped;
            if (!DeleteFileUnlessHeld(first.c_str(), &p.media.destination.failureDetail)) return conversionCannotRename;
        }
        if (std::rename(destination.c_str(), first.c_str()) != 0) {
            p.media.destination.failureDetail = destination + " can't become " + first + ": " + std::strerror(errno);
            return conversionCannotRename;
        }
    }
    ++job.segmentIndex;
    const std::string next = SegmentName(destination, job.segmentIndex);
    const RunResult created =
        CreateDestination(p.media, settings.pOptions, DestinationPromptsOf(p.run.frontEnd, p.run.owner), next.c_str(),
                          true, job.geometry.frameRows, RunFrameRate(settings), job.geometry.imageRows);
    if (created != destinationCreated) return created;
    job.segmentBytes = 0;
    job.segmentStartFrame = job.framesWritten;
    job.segmentAudioStart = job.audioNextSample;
    job.audioChunkCounter = 0;
    job.keyFrameCounter = 0;
    return keepGoing;
}

// Sleeps at idle priority while paused; the stop flag still ends the run.
// The level to return to is left in the control, where a front end that
// lowers or raises the run meanwhile (minimised, restored) changes it.
StepEnd PauseWhileRequested(Pipeline& p) {
    if (!Paused(p.run)) return keepGoing;
    JobControl& control = *p.run.control;
    const pid_t self = CurrentThreadId();
    control.resumePriority = GetThreadPriority(self);
    control.paused = 1;
    SetThreadPriority(self, THREAD_PRIORITY_IDLE);
    StepEnd result = keepGoing;
    while (Paused(p.run)) {
        Sleep(100);
        if (Stopped(p.run)) {
            result = conversionStopped;
            break;
        }
    }
    control.paused = 0;
    SetThreadPriority(self, control.resumePriority);
    return result;
}

// Writes a finished OutputFrame and runs everything that follows a written
// frame; `pause` holds the run here while it is paused, `repeat` says the
// frame has the bytes of the one written before it.
StepEnd FrameWritten(Pipeline& p, const std::uint8_t* frame, std::uint32_t stepIndex, bool pause, bool repeat) {
    ConversionJob& job = p.job;
    DestinationMedia& dest = p.media.destination;
    const std::uint32_t keyFrameEvery = p.settings.pOptions.dwKeyFrameEvery;
    if (StepEnd r = SegmentCheck(p, true)) return r;
    std::int32_t written = 0;
    if (!WriteDestinationFrame(dest, static_cast<std::int32_t>(job.framesWritten - job.segmentStartFrame), frame,
                               static_cast<std::int32_t>(p.frameBytes), job.keyFrameCounter == 0, repeat, &written))
        return WriteFailed(p, conversionCannotWrite,
                           "frame " + std::to_string(job.framesWritten - job.segmentStartFrame));
    job.segmentBytes += static_cast<std::uint32_t>(written);
    if (++job.keyFrameCounter, keyFrameEvery != 0 && job.keyFrameCounter >= keyFrameEvery) job.keyFrameCounter = 0;
    if (StepEnd r = AudioStep(p)) return r;
    if (++job.progressCounter > 10) {
        Report(p.run, stepIndex, job.plan.stepCount);
        job.progressCounter = 0;
    }
    if (Stopped(p.run)) return conversionStopped;
    if (pause)
        if (StepEnd r = PauseWhileRequested(p)) return r;
    ++job.framesWritten;
    return SegmentCheck(p);
}

// Writes finished frames on a thread of its own while the worker decodes and
// computes the next one into the other OutputFrame. Everything that touches
// the destination (video, audio, progress, segments) runs there, one frame
// at a time in order; the worker waits for the last frame before it closes
// the destination or hands over another.
struct WriteBehind {
    Pipeline& p;
    HelperThread thread;
    StepEnd result = keepGoing;
    const std::uint8_t* frame = nullptr;
    std::uint32_t stepIndex = 0;
    bool repeat = false;

    explicit WriteBehind(Pipeline& pipeline) : p(pipeline) {}
    bool Start() { return thread.Start(Write, this); }
    static void Write(void* self) {
        WriteBehind& w = *static_cast<WriteBehind*>(self);
        w.result = FrameWritten(w.p, w.frame, w.stepIndex, false, w.repeat);
    }
    // The result of the frames written so far, once the last is out.
    StepEnd Wait() {
        thread.Wait();
        return result;
    }
    // Posting orders memory, so the writer sees the frame and its step.
    void Hand(const std::uint8_t* finished, std::uint32_t step, bool repeats) {
        frame = finished;
        stepIndex = step;
        repeat = repeats;
        thread.Post();
    }
    // A frame already handed over is written before the thread ends.
    ~WriteBehind() { thread.Wait(); }
};

StepEnd Settle(Pipeline& p) { return p.writer ? p.writer->Wait() : keepGoing; }

// A finished frame: written here, or handed to the writer, which then owns
// that OutputFrame while the kernels move on to the other. With the writer
// done, the other OutputFrame still holds the frame before, so a destination
// that converts frames learns here which repeat it (a held source frame).
StepEnd FrameDone(Pipeline& p, std::uint8_t* spare[2]) {
    if (!p.writer) return FrameWritten(p, p.kernel.output, p.job.stepIndex, true, false);
    if (const StepEnd r = p.writer->Wait()) return r;
    std::uint8_t* finished = p.kernel.output;
    std::uint8_t* other = finished == spare[0] ? spare[1] : spare[0];
    const bool repeat =
        p.handedFrame && DestinationUsesRepeats(p.media.destination) && std::memcmp(finished, other, p.frameBytes) == 0;
    p.writer->Hand(finished, p.job.stepIndex, repeat);
    p.handedFrame = true;
    SetOutputFrame(p, other);
    return PauseWhileRequested(p);
}

// Replacing the open source with its own output would delete it while it is
// being read (Linux lets an open file be removed): the output can't be created there.
bool IsSourceFile(const ConversionSettings& s) {
    struct stat source {
    }, destination{};
    return stat(s.sourcePath, &source) == 0 && stat(s.destinationPath, &destination) == 0 &&
           source.st_dev == destination.st_dev && source.st_ino == destination.st_ino;
}

bool SettingsInRange(const ConversionSettings& s) {
    ConversionSettings copy = s;
    return BringSettingsIntoRange(copy).empty() && s.outputHeight >= 1 && s.outputHeight <= 32767;
}

}  // namespace

RunResult RunConversion(ConversionRun& run) {
    ConversionSettings& settings = *run.settings;
    MediaState& media = *run.media;
    ConversionJob& job = *run.job;
    SourceMedia& source = media.source;
    FrameBuffers& buffers = media.buffers;

    // The start of a run brings stored values into range; a caller that
    // skipped it gets a refusal, as for a format the output can't take.
    media.destination.failureDetail.clear();
    if (!SettingsInRange(settings)) return destinationFormatRefused;
    if (IsSourceFile(settings)) {
        media.destination.failureDetail = "the destination is the source file";
        return destinationCannotCreate;
    }

    const int width = static_cast<int>(source.frameFormat.header.biWidth);
    const int sourceRows = static_cast<int>(source.frameFormat.header.biHeight);
    job.geometry = ComputeFrameGeometry(width, sourceRows, settings.outputHeight, static_cast<int>(settings.letterbox));
    job.sourceFrameBytes = source.frameFormat.header.biSizeImage;

    const RunResult created = CreateDestination(media, settings.pOptions, DestinationPromptsOf(run.frontEnd, run.owner),
                                                settings.destinationPath, false, job.geometry.frameRows,
                                                RunFrameRate(settings), job.geometry.imageRows);
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

    job.plan = PlanRun(source.videoInfo.dwRate, source.videoInfo.dwScale, source.videoInfo.dwLength, settings.srcSpeed,
                       RunFrameRate(settings), deint, deintRes);
    const std::uint64_t limit = job.segmentLimit;
    job = ConversionJob{job.geometry, job.plan, job.sourceFrameBytes};
    job.segmentLimit = limit;
    job.fieldParity = job.plan.firstFieldParity;
    job.lastBaseFrame = -99999;
    job.startTicks = GetTickCount();

    Pipeline p{run,        settings, media,   job, {}, {}, {}, static_cast<int>(settings.intMethod),
               frameBytes, nullptr,  nullptr, {}};
    for (int slot = 0; slot < ringSlotCount; ++slot) p.ring.slots[slot] = buffers.ring[slot];
    p.prep.geometry = job.geometry;
    p.prep.deint = deint;
    p.prep.rowResampleMethod = job.plan.rowResampleMethod;
    p.prep.resample = ResampleContext{buffers.scratchFrame, job.geometry.stride, run.tables, run.kernels};
    p.kernel = KernelContext{&p.ring,    buffers.outputFrame, job.geometry.stride, job.geometry.frameRows,
                             frameBytes, run.tables,          run.kernels,         job.geometry.width};
    BandPool bands;
    const int threads = run.threads > 0 ? run.threads : UsableCores();
    if (threads > 1 && StartBands(p, bands, threads)) {
        p.bands = &bands;
        p.prep.split = RowSplitter{&bands, BandPool::ForEachBand};  // resampling slots shares the bands
    }
    struct FrameMethodGuard {
        FrameMethodState& state;
        ~FrameMethodGuard() { EndFrameMethod(state); }
    } endFrameMethod{p.frameMethod};
    p.frameMethod.found = &job.cuts;
    if (!StartFrameMethod(p.frameMethod, p.intMethod, threads, settings.cutAware != 0)) {
        CloseMedia(media, settings.destinationPath, false);
        return conversionNoMemory;
    }
    // A second OutputFrame lets one frame be written while the next is computed.
    struct SpareFrame {
        std::uint8_t* buffer = nullptr;
        ~SpareFrame() { FreeFrameBuffer(buffer); }
    } spareFrame;
    WriteBehind writer(p);
    std::uint8_t* outputs[2] = {buffers.outputFrame, nullptr};
    if (threads > 1 && (spareFrame.buffer = AllocateFrameBuffer(bufferBytes)) != nullptr) {
        std::memset(spareFrame.buffer, 0, frameBytes);
        outputs[1] = spareFrame.buffer;
        // No writer thread: frames are written on this one.
        if (writer.Start()) p.writer = &writer;
    }

    // The steps; a frame still being written ends first and, failing, names the end.
    auto steps = [&]() -> StepEnd {
        for (job.stepIndex = 0; job.stepIndex < job.plan.stepCount; ++job.stepIndex) {
            const StepPosition position = PositionOfStep(job.stepIndex, job.plan);
            job.baseFrame = position.baseFrame;
            if (job.baseFrame != job.lastBaseFrame) {
                const StepEnd r = RefillRing(p);
                if (r == conversionDone) break;
                if (r) return r;
            }
            RunKernel(p, position);
            if (CompletesFrame(job.plan.interlacedOutput, deintRes, job.fieldParity)) {
                if (const StepEnd r = FrameDone(p, outputs)) return r;
            }
            job.lastBaseFrame = job.baseFrame;
            job.fieldParity = 1 - job.fieldParity;
        }
        return keepGoing;
    };
    const StepEnd end = steps();
    if (const StepEnd written = Settle(p)) return *written;
    if (end) return *end;
    if (const StepEnd r = CompleteFile(p)) return *r;
    // Files closed at a split must still be there too.
    for (int k = 0; k < job.segmentIndex; ++k) {
        const std::string part = SegmentName(settings.destinationPath, k);
        if (!FileExists(part.c_str())) {
            media.destination.failureDetail = part + " was deleted while the run went on";
            return conversionCannotWrite;
        }
    }
    Report(run, job.plan.stepCount, job.plan.stepCount);
    return conversionDone;
}
