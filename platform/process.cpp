#include "platform/process.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<ProcessEndHandler> endHandler{nullptr};
}

ProcessEndHandler SetProcessEndHandler(ProcessEndHandler handler)
{
    return endHandler.exchange(handler);
}

void EndProcess(int exitCode)
{
    if (ProcessEndHandler handler = endHandler.load())
        handler(exitCode);
    else
        std::exit(exitCode);
}
