#pragma once
// A second thread that runs one piece of work at a time for its owner: the
// owner writes what the work reads, posts it, goes on with its own part and
// waits before it reads the results or posts again. Posting and waiting order
// the memory of both threads, so the work's inputs and results need no locks
// of their own. Header-only, so the AVI reader can be built on its own.

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

class HelperThread {
public:
    using Work = void (*)(void* context);

    HelperThread() = default;
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;
    ~HelperThread() { Stop(); }

    // Starts the thread that runs work(context) for every post. False when no
    // thread can be started; the owner then does the work itself.
    bool Start(Work work, void* context) {
        if (thread_.joinable()) return true;
        work_ = work;
        context_ = context;
        quit_ = false;
        try {
            thread_ = std::thread([this] { Loop(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    bool Started() const { return thread_.joinable(); }

    // Hands the work to the thread; returns at once.
    void Post() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            pending_ = true;
        }
        wake_.notify_all();
    }

    // Returns once the posted work has ended (at once when none is posted).
    void Wait() {
        if (!thread_.joinable()) return;
        std::unique_lock<std::mutex> hold(lock_);
        wake_.wait(hold, [this] { return !pending_; });
    }

    // Ends the thread after the work in hand.
    void Stop() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> hold(lock_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [this] { return pending_ || quit_; });
            if (quit_) return;
            hold.unlock();
            work_(context_);
            hold.lock();
            pending_ = false;
            wake_.notify_all();
        }
    }

    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool pending_ = false;
    bool quit_ = false;
    Work work_ = nullptr;
    void* context_ = nullptr;
};
