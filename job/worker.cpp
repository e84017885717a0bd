#include "job/worker.h"

#include <chrono>
#include <cstring>

#include "core/messages.h"
#include "platform/threads.h"
#include "platform/ticks.h"

ResultMessage ResultMessageOf(int resultCode) {
    if (resultCode == ResultCode(conversionDone)) return {IDS_DONE, MB_ICONINFORMATION};
    const MessageId textId = ResultMessageId(static_cast<RunResult>(resultCode));
    return {textId, textId != 0 ? MB_ICONERROR : 0u};  // none for 6: the user's own decision
}

RunResult WorkerThread(ConversionRun& run) {
    SetThreadPriority(CurrentThreadId(), THREAD_PRIORITY_ABOVE_NORMAL);  // refused without privileges: fine
    const FrontEnd& target = run.frontEnd;
    run.savedMainTitle[0] = '\0';
    if (target.getMainTitle) target.getMainTitle(target.context, run.savedMainTitle, sizeof run.savedMainTitle);
    run.savedMainTitle[sizeof run.savedMainTitle - 1] = '\0';

    const RunResult result = RunConversion(run);

    if (target.setMainTitle) target.setMainTitle(target.context, run.savedMainTitle);
    if (target.flashMainWindow) target.flashMainWindow(target.context);
    const ResultMessage message = ResultMessageOf(ResultCode(result));
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
    worker.result = conversionDone;
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

RunResult WaitForWorker(WorkerHandle& worker, void (*serve)(void* context), void* context) {
    if (!worker.thread.joinable()) return worker.result;
    while (!WaitForWorkerFor(worker, 50))
        if (serve) serve(context);
    worker.thread.join();
    return worker.result;
}
