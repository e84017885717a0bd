// The scoring loops at the x86-64 baseline.
#include "frames/picture_metrics.h"

#include "frames/picture_metrics_loops.inc"

MetricLoops MetricLoops_sse2() { return MetricLoops{LumaRow, SquaredErrors, ColumnSums}; }
