#pragma once
// The worker never touches a widget: everything it shows goes through a
// blocking queued call that runs on the UI thread while the worker waits.
// The UI thread, whenever it waits for the worker, keeps serving those calls
// (ServeUiCalls), so neither waits for the other forever.

#include <type_traits>
#include <utility>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

// True on the thread that runs the application's event loop (and before the
// application exists, when there is no other).
bool IsUiThread();

// Runs call on the UI thread and returns its result; on the UI thread itself
// it runs at once.
template <class Call>
auto CallOnUiThread(Call&& call) -> std::invoke_result_t<Call&> {
    using Result = std::invoke_result_t<Call&>;
    if (IsUiThread()) return call();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&call] { call(); }, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&call, &result] { result = call(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

// Serves the calls the worker is blocked in, and timers and painting, but no
// user input: what the UI thread does while it waits for the worker. The
// context is unused; the signature fits WaitForWorker's serve callback.
void ServeUiCalls(void* context = nullptr);
