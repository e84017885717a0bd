#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "job/methods.h"
#include "job/run_plan.h"
#include "job/segments.h"

namespace {

const KernelTables& Tables() {
    static KernelTables tables;
    static const bool built = BuildKernelTables(tables);
    EXPECT_TRUE(built);
    return tables;
}

TEST(PlanRun, RatesSpeedsAndInterlacing) {
    RunPlan p = PlanRun(25, 1, 100, 1.0, 50.0, 0, 3);
    EXPECT_EQ(p.sourceStep, 0.5);
    EXPECT_EQ(p.stepCount, 200u);
    EXPECT_FALSE(p.interlacedOutput);
    EXPECT_EQ(p.rowResampleMethod, 1);
    p = PlanRun(25, 1, 100, 2.0, 25.0, 0, 6);
    EXPECT_EQ(p.sourceStep, 2.0);
    EXPECT_EQ(p.stepCount, 50u);
    EXPECT_EQ(p.rowResampleMethod, 4);
    // Interlaced output at the source rate: two field steps per frame.
    p = PlanRun(25, 1, 100, 1.0, 25.0, 0, 0);
    EXPECT_TRUE(p.interlacedOutput);
    EXPECT_EQ(p.sourceStep, 0.5);
    EXPECT_EQ(p.stepCount, 200u);
    EXPECT_EQ(p.firstFieldParity, 0);
    EXPECT_EQ(PlanRun(25, 1, 100, 1.0, 25.0, 0, 1).firstFieldParity, 1);
    // NTSC-style rational rate.
    p = PlanRun(30000, 1001, 300, 1.0, 25.0, 1, 2);
    EXPECT_TRUE(p.bothFields);
    EXPECT_EQ(p.secondFieldShift, 0.5);
    EXPECT_EQ(p.rowResampleMethod, 0);
    EXPECT_EQ(p.stepCount, static_cast<std::uint32_t>(300 / (30000.0 / 1001 / 25.0)));
    EXPECT_EQ(PlanRun(25, 1, 10, 1.0, 25.0, 4, 3).secondFieldShift, -0.5);
    // One frame to a lower rate: no steps at all.
    EXPECT_EQ(PlanRun(25, 1, 1, 1.0, 10.0, 0, 3).stepCount, 0u);
}

TEST(PlanRun, RatesThatNeverAdvanceGiveNoSteps) {
    EXPECT_EQ(PlanRun(0, 1, 100, 1.0, 25.0, 0, 3).stepCount, 0u);
    EXPECT_EQ(PlanRun(25, 0, 100, 1.0, 25.0, 0, 3).stepCount, 0u);
    EXPECT_EQ(PlanRun(25, 1, 100, 0.0, 25.0, 0, 3).stepCount, 0u);
    EXPECT_EQ(PlanRun(25, 1, 4000000000u, 1e-9, 25.0, 0, 3).stepCount, 0xFFFFFFFFu);
}

TEST(PlanRun, FractionRatesStepExactly) {
    // 120 NTSC frames to "29.97" lose the last one; to 30000/1001 they don't.
    EXPECT_EQ(PlanRun(30000, 1001, 120, 1.0, 29.97, 0, 3).stepCount, 119u);
    RunPlan same = PlanRun(30000, 1001, 120, 1.0, FractionRate(60000, 2002), 0, 3);
    EXPECT_EQ(same.stepCount, 120u);
    EXPECT_EQ(same.stepNumerator, 1u);
    EXPECT_EQ(same.stepDenominator, 1u);
    // 25 fps to NTSC: a step of 1001/1200 frames, step 1200 on frame 1001 exactly,
    // where the product of the rounded step is not a whole number.
    const RunPlan up = PlanRun(25, 1, 1000, 1.0, FractionRate(30000, 1001), 0, 3);
    EXPECT_EQ(up.stepCount, 1000u * 1200 / 1001);
    const StepPosition exact = PositionOfStep(1200, up);
    EXPECT_EQ(exact.samplePosition, 1001.0);
    EXPECT_EQ(exact.baseFrame, 1001);
    const StepPosition before = PositionOfStep(1199, up);
    EXPECT_EQ(before.baseFrame, 1000);
    EXPECT_DOUBLE_EQ(before.samplePosition, 1000.0 + 1001.0 * 1199 / 1200 - 1000);
    // Fields at half a speed of 50 %: twice the position, the frame of the step.
    const RunPlan fields = PlanRun(30000, 1001, 100, 0.5, FractionRate(24000, 1001), 1, 0);
    EXPECT_EQ(fields.stepNumerator * 16, fields.stepDenominator * 5);  // 30/24 x 0.5 / 2
    const StepPosition f = PositionOfStep(17, fields);
    EXPECT_EQ(f.samplePosition, 2 * 17 * 5 / 16.0);
    EXPECT_EQ(f.baseFrame, 5);
    // A decimal rate, or a speed no short decimal gives, keeps the rounded step.
    EXPECT_EQ(PlanRun(25, 1, 100, 1.0, 50.0, 0, 3).stepDenominator, 0u);
    EXPECT_EQ(PlanRun(25, 1, 100, 1.0 / 3, FractionRate(30000, 1001), 0, 3).stepDenominator, 0u);
}

TEST(CompletesFrame, FieldOrder) {
    EXPECT_TRUE(CompletesFrame(false, 3, 0));
    EXPECT_FALSE(CompletesFrame(true, 0, 0));
    EXPECT_TRUE(CompletesFrame(true, 0, 1));
    EXPECT_FALSE(CompletesFrame(true, 1, 1));
    EXPECT_TRUE(CompletesFrame(true, 1, 0));
}

TEST(MethodUsesSlot, FetchesOnlyWhatTheMethodReads) {
    const int expected[11][5] = {{0, 0, 1, 0, 0}, {0, 0, 1, 1, 0}, {0, 0, 1, 1, 0}, {0, 1, 1, 1, 1},
                                 {0, 1, 1, 1, 1}, {0, 1, 1, 1, 1}, {0, 1, 1, 1, 1}, {0, 1, 1, 1, 1},
                                 {0, 1, 1, 1, 0}, {1, 1, 1, 1, 1}, {0, 1, 1, 1, 1}};
    for (int m = 0; m < 11; ++m)
        for (int s = 0; s < 5; ++s) EXPECT_EQ(MethodUsesSlot(m, s), expected[m][s] == 1) << m << " " << s;
}

// The table's entries fit the ring and the front ends: slots inside the ring,
// the base frame read by every method, names the command line can tell apart.
TEST(MethodTable, EntriesFitTheRingAndTheFrontEnds) {
    std::set<std::string> names, labels;
    for (const MethodEntry& m : methodTable) {
        EXPECT_TRUE(names.insert(m.name).second) << m.name;
        EXPECT_TRUE(labels.insert(m.label).second) << m.label;
        EXPECT_EQ(FindMethod(static_cast<int>(m.id)), &m);
        for (const auto& set : m.slots.slots)
            for (int i = 0; i < m.slots.count; ++i) EXPECT_TRUE(set[i] >= 0 && set[i] < ringSlotCount) << m.name;
        EXPECT_TRUE(MethodUsesSlot(static_cast<int>(m.id), 2)) << m.name;
        EXPECT_EQ(m.kernel != nullptr, m.kind == MethodKind::row) << m.name << ": a row kernel";
        EXPECT_EQ(m.frame != nullptr, m.kind == MethodKind::frame) << m.name << ": or a frame method";
    }
    EXPECT_EQ(FindMethod(-1), nullptr);
    EXPECT_EQ(FindMethod(interpolationMethodCount), nullptr);
}

// A ring of one-row frames with distinct random contents per slot, and a
// second output to compute the expected call into.
struct Ring {
    static constexpr int bytes = 64;
    std::vector<std::vector<std::uint8_t>> slots{ringSlotCount, std::vector<std::uint8_t>(bytes)};
    std::vector<std::uint8_t> out = std::vector<std::uint8_t>(bytes), expected = std::vector<std::uint8_t>(bytes);
    FrameRing ring;
    Ring() {
        unsigned seed = 12345;
        for (int s = 0; s < ringSlotCount; ++s) {
            for (auto& b : slots[s]) b = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
            ring.slots[s] = slots[s].data();
        }
    }
    KernelContext Context(std::vector<std::uint8_t>& target) {
        KernelContext c;
        c.ring = &ring;
        c.output = target.data();
        c.stride = bytes;
        c.frameRows = 1;
        c.frameBytes = bytes;
        c.tables = &Tables();
        return c;
    }
    // The step's kernel gives the same bytes as the call we expect.
    void ExpectStep(int method, double range, StepPosition pos, bool bothFields,
                    const std::function<void(const KernelContext&)>& call) {
        RunStepKernel(Context(out), method, range, pos, bothFields, false, 0);
        call(Context(expected));
        EXPECT_EQ(out, expected) << "method " << method << " position " << pos.samplePosition;
    }
};

TEST(RunStepKernel, DoublingTheRateBlendsEveryOtherStep) {
    Ring r;
    const RunPlan plan = PlanRun(25, 1, 100, 1.0, 50.0, 0, 3);
    for (std::uint32_t step : {6u, 7u}) {
        const StepPosition pos = PositionOfStep(step, plan.sourceStep, false);
        EXPECT_EQ(pos.baseFrame, 3);
        if (step % 2 == 0)
            r.ExpectStep(1, 1.0, pos, false, [](const KernelContext& c) { interpolateCoarse(c, false, 0, 2); });
        else
            r.ExpectStep(1, 1.0, pos, false, [](const KernelContext& c) { interpolateLinear(c, false, 0, 2, 3, 0.5); });
    }
}

TEST(RunStepKernel, RangeHoldsTheEarlierFrame) {
    Ring r;
    // intRange 0.5, quarter steps: hold, hold, hold (0.5 is not above), blend at 0.5.
    for (double frac : {0.0, 0.25, 0.5})
        r.ExpectStep(4, 0.5, {7 + frac, 7}, false, [](const KernelContext& c) { interpolateCoarse(c, false, 0, 2); });
    r.ExpectStep(4, 0.5, {7.75, 7}, false,
                 [](const KernelContext& c) { interpolateLanczos(c, false, 0, 1, 2, 3, 4, 0.5); });
    // Medians never hold and ignore the position.
    r.ExpectStep(8, 0.5, {7.0, 7}, false, [](const KernelContext& c) { median3(c, false, 0, 1, 2, 3); });
    r.ExpectStep(9, 1.0, {7.3, 7}, false, [](const KernelContext& c) { median5(c, false, 0, 0, 1, 2, 3, 4); });
    r.ExpectStep(6, 1.0, {7.3, 7}, false,
                 [](const KernelContext& c) { interpolateLansin(c, false, 0, 1, 2, 3, 4, 7.3 - 7.0, 31.0); });
}

TEST(RunStepKernel, FieldPairsUseTheFieldSlots) {
    Ring r;
    // Frame 4: fields 8 (slot 2) and 9 (slot 6).
    r.ExpectStep(1, 1.0, {8.5, 4}, true, [](const KernelContext& c) { interpolateLinear(c, false, 0, 2, 6, 0.5); });
    r.ExpectStep(1, 1.0, {9.5, 4}, true, [](const KernelContext& c) { interpolateLinear(c, false, 0, 6, 3, 0.5); });
    r.ExpectStep(3, 0.4, {9.25, 4}, true, [](const KernelContext& c) { interpolateCoarse(c, false, 0, 6); });
    r.ExpectStep(0, 1.0, {9.75, 4}, true, [](const KernelContext& c) { interpolateCoarse(c, false, 0, 6); });
    r.ExpectStep(3, 1.0, {8.25, 4}, true,
                 [](const KernelContext& c) { interpolateCubic(c, false, 0, 5, 2, 6, 3, 0.25); });
    r.ExpectStep(9, 1.0, {9.0, 4}, true, [](const KernelContext& c) { median5(c, false, 0, 5, 2, 6, 3, 7); });
    r.ExpectStep(8, 1.0, {8.0, 4}, true, [](const KernelContext& c) { median3(c, false, 0, 5, 2, 6); });
}

TEST(SegmentName, NumbersBeforeTheExtension) {
    EXPECT_EQ(SegmentName("/clips/holiday_proc.avi", 0), "/clips/holiday_proc.00.avi");
    EXPECT_EQ(SegmentName("/clips/holiday_proc.avi", 1), "/clips/holiday_proc.01.avi");
    EXPECT_EQ(SegmentName("/clips/holiday_proc.avi", 100), "/clips/holiday_proc.100.avi");
    EXPECT_EQ(SegmentName("/clips/out", 1), "/clips/out.01");
    EXPECT_EQ(SegmentName("out.tar.avi", 2), "out.tar.02.avi");
    // A dot in a folder name stays where it is.
    EXPECT_EQ(SegmentName("/my.clips/out", 0), "/my.clips/out.00");
}

}  // namespace
