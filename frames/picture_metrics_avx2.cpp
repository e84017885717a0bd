// The scoring loops with AVX2: the vectoriser deinterleaves BGR with byte
// shuffles here, which the baseline lacks (luma is then a third of the cost).
#include "frames/picture_metrics.h"

#include "frames/picture_metrics_loops.inc"

MetricLoops MetricLoops_avx2() { return MetricLoops{LumaRow, SquaredErrors, ColumnSums}; }
