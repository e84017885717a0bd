#pragma once
// A second thread that runs one piece of work at a time for its owner: the
// owner writes what the work reads, posts it, goes on with its own part and
// waits before it reads the results or posts again. Posting and waiting order
// the memory of both threads, so the work's inputs and results need no locks
// of their own. Header-only, so the AVI reader can be built on its own.
//
// The work runs at the priority of the thread that posted it, so a run
// lowered while paused or minimised is lowered on every core it uses.

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
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
        const pid_t poster = static_cast<pid_t>(syscall(SYS_gettid));
        {
            std::lock_guard<std::mutex> hold(lock_);
            pending_ = true;
            poster_ = poster;
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
            const pid_t poster = poster_;
            hold.unlock();
            FollowPriority(poster);
            work_(context_);
            hold.lock();
            pending_ = false;
            wake_.notify_all();
        }
    }

    // Takes the poster's scheduling policy and nice value when they changed;
    // a change the system refuses leaves this thread where it is.
    void FollowPriority(pid_t poster) {
        const int policy = sched_getscheduler(poster);
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(poster));
        if (policy < 0 || errno != 0 || (policy == policy_ && nice == nice_)) return;
        sched_param param{};
        if (policy == SCHED_IDLE || policy_ == SCHED_IDLE)
            sched_setscheduler(0, policy == SCHED_IDLE ? SCHED_IDLE : SCHED_OTHER, &param);
        setpriority(PRIO_PROCESS, 0, nice);  // 0: this thread
        policy_ = sched_getscheduler(0);
        errno = 0;
        nice_ = getpriority(PRIO_PROCESS, 0);
        if (errno != 0) nice_ = 0;
    }

    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool pending_ = false;
    bool quit_ = false;
    pid_t poster_ = 0;
    int policy_ = SCHED_OTHER, nice_ = 0;  // this thread's, as last set
    Work work_ = nullptr;
    void* context_ = nullptr;
};
