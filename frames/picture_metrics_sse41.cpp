// The scoring loops with SSE4.1 (and the SSSE3 byte shuffles that deinterleave BGR).
#include "frames/picture_metrics.h"

#include "frames/picture_metrics_loops.inc"

MetricLoops MetricLoops_sse41() { return MetricLoops{LumaRow, SquaredErrors, ColumnSums}; }
