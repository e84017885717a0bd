// Reading a stream with its own timestamps on a constant grid, in exact
// rational arithmetic: position n of the grid shows the picture whose
// presentation time is the latest at or before n / rate after the first
// picture. Timestamps are taken as exact to half their time base, so a
// constant-rate stream whose times were rounded to the base keeps its
// pictures one for one.
#pragma once

#include <cstdint>
#include <vector>

struct Ratio {
    std::int64_t num = 0, den = 1;
};

// Positions before `end` (the time the last picture stops showing); `origin`
// is the first picture's time, both in ticks of `timeBase` seconds.
std::int64_t GridLength(std::int64_t origin, std::int64_t end, Ratio timeBase, Ratio rate);
// The index into `pts` (increasing, pts[0] the origin, not empty) of the
// picture position n >= 0 shows. Found when asked, so a grid made long by a
// far timestamp takes no memory.
std::int32_t GridPicture(const std::vector<std::int64_t>& pts, std::int64_t n, Ratio timeBase, Ratio rate);
// Whether the times between pictures differ by more than one tick.
bool VariableSpacing(const std::vector<std::int64_t>& pts);
