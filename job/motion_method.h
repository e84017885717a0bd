// Motion: both source images around an output position warped to its time
// along the motion between them, the Lansin 2 blend where motion is
// unreliable, and the nearer image whole across a cut.
#pragma once

#include "job/methods.h"

extern const FrameMethod motionMethod;
// The cut test Motion uses, for the other methods.
extern const CutDetector motionCuts;
