#include "job/score_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "frames/geometry.h"
#include "frames/picture_metrics.h"
#include "job/methods.h"
#include "job/run_plan.h"
#include "media/source.h"

bool IsKeptFrame(const KeepPattern& keep, std::int64_t offset) {
    const std::int64_t q = keep.period;
    const std::int64_t r = ((offset % q) + q) % q;
    for (std::int64_t i = 0; i < keep.kept; ++i)
        if (i * q / keep.kept == r) return true;
    return false;
}

std::string MethodKey(int method) {
    const MethodEntry* m = FindMethod(method);
    return m ? m->name : "";
}

double MethodScore::PooledMseY() const {
    double sum = 0;
    for (const FrameScore& f : frames) sum += f.mseY;
    return frames.empty() ? 0 : sum / static_cast<double>(frames.size());
}

double MethodScore::PooledMseRgb() const {
    double sum = 0;
    for (const FrameScore& f : frames) sum += f.mseRgb;
    return frames.empty() ? 0 : sum / static_cast<double>(frames.size());
}

double MethodScore::MeanSsim() const {
    double sum = 0;
    for (const FrameScore& f : frames) sum += f.ssim;
    return frames.empty() ? 0 : sum / static_cast<double>(frames.size());
}

void ChooseStretch(const ScoreRequest& request, double rate, std::int64_t length, std::int64_t& first,
                   std::int64_t& count, bool& shortened) {
    const double wanted = std::max(1.0, std::round(request.durationSeconds * rate));
    const std::int64_t asked = wanted < 1e15 ? static_cast<std::int64_t>(wanted) : std::int64_t{1} << 50;
    if (request.startSeconds) {
        const double start = std::round(*request.startSeconds * rate);
        first = start < static_cast<double>(length) ? static_cast<std::int64_t>(std::max(0.0, start)) : length;
        count = std::min(asked, length - first);
    } else {
        count = std::min(asked, length);
        first = (length - count) / 2;
    }
    shortened = count < asked;
}

namespace {

// The next kept frame after `frame` exists within the source.
bool KeptAfter(const KeepPattern& keep, std::int64_t stretchFirst, std::int64_t frame, std::int64_t length) {
    for (std::int64_t f = frame + 1; f < length && f <= frame + keep.period; ++f)
        if (IsKeptFrame(keep, f - stretchFirst)) return true;
    return false;
}

}  // namespace

std::int64_t FramesToRebuild(const KeepPattern& keep, std::int64_t first, std::int64_t count, std::int64_t length) {
    std::int64_t n = 0;
    for (std::int64_t f = first; f < first + count; ++f)
        if (!IsKeptFrame(keep, f - first) && KeptAfter(keep, first, f, length)) ++n;
    return n;
}

namespace {

struct Buffer {
    std::uint8_t* bytes = nullptr;
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { FreeFrameBuffer(bytes); }
    bool Allocate(std::size_t size, bool zero) {
        bytes = AllocateFrameBuffer(size);
        if (bytes && zero) std::memset(bytes, 0, size);
        return bytes != nullptr;
    }
};

// A source frame brought into the destination geometry as a ring slot would
// hold it: the frame (or first field) and, in the field-pair modes, the second field.
struct PreparedFrame {
    std::int64_t frame = -1;
    bool decoded = false;
    Buffer first, second;
};

// One destination frame: one step, or two field steps woven when the output
// is interlaced. `positionOf(k)` is the source position of step k in frames.
// As the conversion's step: the cut rule first, a frame method whole, else
// the row kernel; `state` is null for the original (Coarse, no state).
template <typename Position>
void RunFrameSteps(const KernelContext& ctx, FrameMethodState* state, int method, double range, const RunPlan& plan,
                   std::int64_t base, Position positionOf) {
    int parity = plan.firstFieldParity;
    for (int k = 0; k < (plan.interlacedOutput ? 2 : 1); ++k) {
        const double x = positionOf(k);
        const StepPosition position{plan.bothFields ? 2 * x : x, base};
        const bool b = plan.bothFields, i = plan.interlacedOutput;
        if (state && state->cuts && HoldAcrossCut(*state, ctx, RowSplitter{}, method, range, position, b, i, parity)) {
        } else if (state && state->method) {
            RunFrameStep(*state, ctx, RowSplitter{}, method, range, position, b, i, parity);
        } else {
            RunStepKernel(ctx, method, range, position, b, i, parity);
        }
        parity = 1 - parity;
    }
}

// Every method's state over the score, ended on every way out.
struct MethodStates {
    std::vector<FrameMethodState> states;
    ~MethodStates() {
        for (FrameMethodState& s : states) EndFrameMethod(s);
    }
};

}  // namespace

RunResult ScoreSource(const ConversionSettings& settings, SourceMedia& source, const KernelTables& tables,
                      const ScoreRequest& request, ScoreReport& report) {
    const AVISTREAMINFOA& info = source.videoInfo;
    const std::int64_t length = info.dwLength;
    report = ScoreReport{};
    report.rate = info.dwScale ? static_cast<double>(info.dwRate) / info.dwScale : 0;
    if (!(report.rate > 0)) return sourceNoInfo;
    std::int64_t first = 0, count = 0;
    ChooseStretch(request, report.rate, length, first, count, report.shortened);
    report.firstFrame = first;
    report.frameCount = count;
    const KeepPattern keep = request.keep;
    const std::int64_t total = FramesToRebuild(keep, first, count, length);
    if (total == 0) return sourceNoInfo;

    std::vector<int> methods = request.methods;
    if (methods.empty())
        for (int m = 0; m < interpolationMethodCount; ++m) methods.push_back(m);
    for (int m : methods) {
        report.methods.emplace_back();
        report.methods.back().method = m;
    }

    const int deint = static_cast<int>(settings.deint), deintRes = static_cast<int>(settings.deintRes);
    const FrameGeometry g = ComputeFrameGeometry(static_cast<int>(source.frameFormat.header.biWidth),
                                                 static_cast<int>(source.frameFormat.header.biHeight),
                                                 settings.outputHeight, static_cast<int>(settings.letterbox));
    report.geometry = g;
    const RunPlan plan = PlanRun(info.dwRate, info.dwScale, info.dwLength, 1.0, report.rate, deint, deintRes);
    const bool pairs = plan.bothFields;
    const std::size_t sourceBytes = source.frameFormat.header.biSizeImage;
    const std::size_t bufferBytes = std::max(g.frameBytes, sourceBytes);

    // The frames a step can reach: two kept frames on either side of the
    // stretch, where the source has them, so its edges rebuild as its middle does.
    const std::int64_t q = keep.period;
    const std::int64_t readFirst = std::max<std::int64_t>(0, first - 2 * q);
    const std::int64_t readLast = std::min(length - 1, first + count - 1 + 2 * q);
    std::vector<std::int64_t> kept;
    for (std::int64_t f = readFirst; f <= readLast; ++f)
        if (IsKeptFrame(keep, f - first)) kept.push_back(f);
    const auto scored = [&](std::int64_t f) {
        return f >= first && f < first + count && !IsKeptFrame(keep, f - first) && f < kept.back();
    };

    // Frames from two kept frames back to two ahead are alive at once.
    const std::size_t poolSize = static_cast<std::size_t>(4 * q + 3);
    std::vector<PreparedFrame> pool(poolSize);
    Buffer scratch, output, reference, lastGood;
    bool allocated = scratch.Allocate(bufferBytes, true) && output.Allocate(bufferBytes, true) &&
                     reference.Allocate(bufferBytes, true) && lastGood.Allocate(bufferBytes, true);
    for (PreparedFrame& p : pool)
        allocated =
            allocated && p.first.Allocate(bufferBytes, false) && (!pairs || p.second.Allocate(bufferBytes, false));
    if (!allocated) return conversionNoMemory;
    for (MethodScore& m : report.methods) m.frames.reserve(static_cast<std::size_t>(total));
    if (request.keepWorstPictures)
        for (MethodScore& m : report.methods) {
            m.worstOriginal.assign(g.frameBytes, 0);
            m.worstRebuilt.assign(g.frameBytes, 0);
        }

    const RowKernels* kernels = request.kernels;
    SlotPreparation prep;
    prep.geometry = g;
    prep.deint = deint;
    prep.rowResampleMethod = plan.rowResampleMethod;
    prep.resample = ResampleContext{scratch.bytes, g.stride, &tables, kernels};

    // Decodes in order up to `last`, preparing what a step or a comparison uses.
    std::int64_t next = readFirst;
    bool haveGood = false;
    const auto readThrough = [&](std::int64_t last) -> bool {
        for (; next <= last; ++next) {
            const std::uint8_t* picture = SourcePicture(source, next);
            if (picture) {
                std::memcpy(lastGood.bytes, picture, sourceBytes);
                haveGood = true;
            } else if (!haveGood) {
                return false;
            } else if (next >= first && next < first + count) {
                ++report.undecodable;
            }
            if (!IsKeptFrame(keep, next - first) && !scored(next)) continue;
            PreparedFrame& p = pool[static_cast<std::size_t>(next) % poolSize];
            std::memcpy(p.first.bytes, lastGood.bytes, sourceBytes);
            FrameRing slot;
            slot.slots[1] = p.first.bytes;
            slot.slots[5] = p.second.bytes;
            PrepareSlot(prep, slot, 1);
            p.frame = next;
            p.decoded = picture != nullptr;
        }
        return true;
    };
    const auto prepared = [&](std::int64_t f) -> PreparedFrame& {
        return pool[static_cast<std::size_t>(f) % poolSize];
    };

    // Methods with state (Motion, the stored cut rule) keep it over the whole
    // score, one thread, as a one-thread conversion does.
    MethodStates running;
    running.states.resize(report.methods.size());
    for (std::size_t i = 0; i < report.methods.size(); ++i)
        if (!StartFrameMethod(running.states[i], report.methods[i].method, 1, settings.cutAware != 0))
            return conversionNoMemory;
    KernelContext ctx{nullptr, nullptr, g.stride, g.frameRows, g.frameBytes, &tables, kernels, g.width};
    MetricScratch metrics;
    const BgrPicture original = BottomUpPicture(reference.bytes, g.width, g.frameRows, g.stride);
    const BgrPicture rebuilt = BottomUpPicture(output.bytes, g.width, g.frameRows, g.stride);
    const double range = settings.intRange;
    const std::int64_t keptCount = static_cast<std::int64_t>(kept.size());
    std::int64_t done = 0;

    for (std::int64_t j = 0; j + 1 < keptCount; ++j) {
        const std::int64_t a = kept[j], b = kept[j + 1];
        if (b - a < 2 || b <= first || a >= first + count - 1) continue;
        if (!readThrough(kept[std::min(j + 2, keptCount - 1)])) return sourceUnsupported;
        // The ring as a conversion of the kept frames holds it at base j: the
        // first kept frame stands in before it, the last field after the end.
        FrameRing ring;
        for (int s = 0; s <= 4; ++s) {
            const std::int64_t index = std::max<std::int64_t>(0, j - 2 + s);
            if (index >= keptCount) {
                ring.slots[s] = pairs ? ring.slots[s + 3] : ring.slots[s - 1];
                if (pairs) ring.slots[s + 4] = ring.slots[s];
                continue;
            }
            PreparedFrame& p = prepared(kept[index]);
            ring.slots[s] = p.first.bytes;
            if (pairs && s >= 1) ring.slots[s + 4] = p.second.bytes;
        }
        for (std::int64_t t = a + 1; t < b; ++t) {
            if (!scored(t)) continue;
            const PreparedFrame& p = prepared(t);
            if (!p.decoded) continue;
            // The original as a conversion at the source's own rate writes it.
            FrameRing own;
            own.slots[2] = p.first.bytes;
            own.slots[6] = p.second.bytes;
            ctx.ring = &own;
            ctx.output = reference.bytes;
            RunFrameSteps(ctx, nullptr, 0, range, plan, 0, [](int k) { return 0.5 * k; });
            ctx.ring = &ring;
            ctx.output = output.bytes;
            for (std::size_t i = 0; i < report.methods.size(); ++i) {
                MethodScore& m = report.methods[i];
                const auto started = std::chrono::steady_clock::now();
                RunFrameSteps(ctx, &running.states[i], m.method, range, plan, j, [&](int k) {
                    return static_cast<double>(j) + (static_cast<double>(t - a) + 0.5 * k) / static_cast<double>(b - a);
                });
                m.kernelSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                const PictureScore s = ScorePictures(original, rebuilt, metrics);
                m.frames.push_back(FrameScore{t, s.mseY, s.mseRgb, s.ssimY});
                if (m.frames.size() == 1 || s.mseY > m.frames[m.worst].mseY) {
                    m.worst = m.frames.size() - 1;
                    for (MethodScore& m : report.methods) m.frames.reserve(static_cast<std::size_t>(total));
                    if (request.keepWorstPictures) {
                        std::memcpy(m.worstOriginal.data(), reference.bytes, g.frameBytes);
                        std::memcpy(m.worstRebuilt.data(), output.bytes, g.frameBytes);
                    }
                }
            }
            if (request.progress) request.progress(request.context, ++done, total);
        }
    }
    return conversionDone;
}
