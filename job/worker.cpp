#include "job/worker.h"

#include <chrono>
#include <cstring>

#include "core/messages.h"
#include "platform/threads.h"
#include "platform/ticks.h"

ResultMessage ResultMessageOf(int result) {
    switch (result) {
        case 0: return {IDS_DONE, MB_ICONINFORMATION};
        case 5: return {IDS_CANNOT_CREATE_OUTPUT, MB_ICONERROR};
        case 7: return {IDS_CANNOT_CREATE_STREAM, MB_ICONERROR};
        case 8: return {IDS_CANNOT_COMPRESS, MB_ICONERROR};
        case 9: return {IDS_MEMORY_PROBLEM, MB_ICONERROR};
        case 11: return {IDS_CANNOT_WRITE_AUDIO, MB_ICONERROR};
        case 12: return {IDS_CANNOT_RENAME_SEGMENT, MB_ICONERROR};
        default: return {0, 0};  // 6: the user's own decision
    }
}

int WorkerThread(ConversionRun& run) {
    SetThreadPriority(CurrentThreadId(), THREAD_PRIORITY_ABOVE_NORMAL);  // refused without privileges: fine
    const FrontEnd& target = run.frontEnd;
    run.savedMainTitle[0] = '\0';
    if (target.getMainTitle) target.getMainTitle(target.context, run.savedMainTitle, sizeof run.savedMainTitle);
    run.savedMainTitle[sizeof run.savedMainTitle - 1] = '\0';

    const int result = RunConversion(run);

    if (target.setMainTitle) target.setMainTitle(target.context, run.savedMainTitle);
    if (target.flashMainWindow) target.flashMainWindow(target.context);
    const ResultMessage message = ResultMessageOf(result);
    if (message.textId != 0) {
        if (target.reportResult)
            target.reportResult(target.context, message.textId, message.style);
        else
            ShowMessage(UserCallsOf(target), run.owner, IDS_CAPTION, static_cast<MessageId>(message.textId),
                        message.style);
    }
    if (target.endProgress) target.endProgress(target.context);
    return result;
}

bool StartWorker(WorkerHandle& worker, ConversionRun& run) {
    if (worker.thread.joinable()) worker.thread.join();  // the last run's thread has ended
    worker.finished = false;
    worker.threadId = 0;
    worker.result = 0;
    try {
        worker.thread = std::thread([&worker, &run] {
            worker.threadId = CurrentThreadId();
            worker.result = WorkerThread(run);
            worker.finished = true;
        });
    } catch (...) {
        return false;
    }
    return true;
}

bool WaitForWorkerFor(WorkerHandle& worker, unsigned milliseconds) {
    if (!worker.thread.joinable()) return true;
    const std::uint32_t start = GetTickCount();
    while (!worker.finished) {
        if (GetTickCount() - start >= milliseconds) return false;
        Sleep(1);
    }
    return true;
}

int WaitForWorker(WorkerHandle& worker, void (*serve)(void* context), void* context) {
    if (!worker.thread.joinable()) return worker.result;
    while (!WaitForWorkerFor(worker, 50))
        if (serve) serve(context);
    worker.thread.join();
    return worker.result;
}
