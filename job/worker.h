// The worker thread of a conversion and the wait for it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <thread>

#include "job/conversion.h"

// The message that reports a run's result code (0: none, as for 6), with its style.
struct ResultMessage {
    int textId;
    unsigned style;
};
ResultMessage ResultMessageOf(int resultCode);

// The worker's body: raises its priority, saves the main title, runs the
// conversion, puts the title back, reports the result and ends the progress
// window. Returns the result.
RunResult WorkerThread(ConversionRun& run);

// A started worker. Kept after the thread ends, like a thread handle.
struct WorkerHandle {
    std::thread thread;
    std::atomic<bool> finished{false};
    std::atomic<pid_t> threadId{0};  // for priority changes from the UI thread
    RunResult result = conversionDone;
};

// Clears nothing: the front end clears the flags of run.control first.
// False when the thread can't be started.
bool StartWorker(WorkerHandle& worker, ConversionRun& run);

// Waits up to `milliseconds` for the worker; true when it has ended.
bool WaitForWorkerFor(WorkerHandle& worker, unsigned milliseconds);

// Waits until the worker has ended, calling serve(context) every 50 ms so the
// waiting thread keeps answering what the worker asks of it; returns the
// worker's result (conversionDone with no worker).
RunResult WaitForWorker(WorkerHandle& worker, void (*serve)(void* context) = nullptr, void* context = nullptr);
