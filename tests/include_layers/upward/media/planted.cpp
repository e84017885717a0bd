// A media file naming the job above it: the include check must refuse it.
#include "job/worker.h"
