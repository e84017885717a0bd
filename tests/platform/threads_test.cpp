// Thread priorities as a paused or minimised run uses them: lowered for a
// while and brought back, on every thread of the run.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/helper_thread.h"
#include "platform/threads.h"

namespace {

// Runs `check` in a child process that has RLIMIT_NICE at `niceLimit` and no
// CAP_SYS_NICE, as an ordinary user's process has; returns its exit code
// (0 when every step held, else the number of the first that failed).
template <typename Check>
int AsOrdinaryUser(rlim_t niceLimit, Check check) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{niceLimit, niceLimit};
        if (setrlimit(RLIMIT_NICE, &limit) != 0) _exit(100);  // lowering a limit needs no privilege
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (syscall(SYS_capget, &header, data) != 0) _exit(101);
        data[0].effective &= ~(1u << CAP_SYS_NICE);
        if (syscall(SYS_capset, &header, data) != 0) _exit(102);
        _exit(check());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 200;
    return WEXITSTATUS(status);
}

TEST(ThreadPriority, ALoweringThatCouldNotBeUndoneIsRefused) {
    // Linux lets such a process lower a thread but never raise it again: a
    // paused run would stay at idle priority after it resumed.
    const int failed = AsOrdinaryUser(0, [] {
        const pid_t self = CurrentThreadId();
        if (SetThreadPriority(self, THREAD_PRIORITY_BELOW_NORMAL)) return 1;
        if (GetThreadPriority(self) != THREAD_PRIORITY_NORMAL) return 2;
        if (SetThreadPriority(self, THREAD_PRIORITY_IDLE)) return 3;
        if (GetThreadPriority(self) != THREAD_PRIORITY_NORMAL) return 4;
        return 0;
    });
    EXPECT_EQ(failed, 0) << "step " << failed << " failed";
}

struct PriorityProbe {
    int seen = THREAD_PRIORITY_NORMAL;
    static void Record(void* self) { static_cast<PriorityProbe*>(self)->seen = GetThreadPriority(CurrentThreadId()); }
};

TEST(ThreadPriority, HelperWorkRunsAtThePostersPriority) {
    int lowered = 0, idle = 0, restored = 0;
    bool permitted = true;
    // A thread of its own as the poster, so the test process keeps its priority.
    std::thread poster([&] {
        const pid_t self = CurrentThreadId();
        PriorityProbe probe;
        HelperThread helper;
        ASSERT_TRUE(helper.Start(PriorityProbe::Record, &probe));
        auto postAt = [&](int priority) {
            permitted = permitted && SetThreadPriority(self, priority);
            helper.Post();
            helper.Wait();
            return probe.seen;
        };
        lowered = postAt(THREAD_PRIORITY_BELOW_NORMAL);
        idle = postAt(THREAD_PRIORITY_IDLE);
        restored = postAt(THREAD_PRIORITY_NORMAL);
    });
    poster.join();
    if (!permitted) GTEST_SKIP() << "this process may not raise a thread's priority again";
    EXPECT_EQ(lowered, THREAD_PRIORITY_BELOW_NORMAL);
    EXPECT_EQ(idle, THREAD_PRIORITY_IDLE);
    EXPECT_EQ(restored, THREAD_PRIORITY_NORMAL);
}

TEST(ThreadPriority, AMinimisedRunLowersEveryOtherThreadAndRaisesItAgain) {
    // One thread as an encoder's pool thread started by the raised worker,
    // one at the normal level; a third is started while they are lowered.
    std::atomic<pid_t> pool{0}, normal{0}, newcomer{0};
    std::atomic<bool> startNewcomer{false}, quit{false};
    auto idle = [&quit] {
        while (!quit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::thread poolThread([&] {
        SetThreadPriority(CurrentThreadId(), THREAD_PRIORITY_ABOVE_NORMAL);
        pool = CurrentThreadId();
        while (!startNewcomer) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::thread late([&] {
            newcomer = CurrentThreadId();
            idle();
        });
        late.join();
    });
    std::thread normalThread([&] {
        normal = CurrentThreadId();
        idle();
    });
    while (!pool || !normal) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const pid_t self = CurrentThreadId();
    const int selfBefore = GetThreadPriority(self);
    const bool permitted = GetThreadPriority(pool) == THREAD_PRIORITY_ABOVE_NORMAL;

    std::vector<ThreadLevel> levels = LowerOtherThreads(THREAD_PRIORITY_BELOW_NORMAL);
    const int poolLowered = GetThreadPriority(pool), normalLowered = GetThreadPriority(normal);
    startNewcomer = true;
    while (!newcomer) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int newcomerLowered = GetThreadPriority(newcomer);
    RaiseThreads(levels, THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_ABOVE_NORMAL);
    const int poolRaised = GetThreadPriority(pool), normalRaised = GetThreadPriority(normal),
              newcomerRaised = GetThreadPriority(newcomer);
    quit = true;
    poolThread.join();
    normalThread.join();

    EXPECT_EQ(GetThreadPriority(self), selfBefore);  // the caller is the UI: never lowered
    if (!permitted) GTEST_SKIP() << "this process may not raise a thread's priority";
    EXPECT_EQ(levels.size(), 2u);
    EXPECT_EQ(poolLowered, THREAD_PRIORITY_BELOW_NORMAL);
    EXPECT_EQ(normalLowered, THREAD_PRIORITY_BELOW_NORMAL);
    EXPECT_EQ(newcomerLowered, THREAD_PRIORITY_BELOW_NORMAL);  // started by a lowered thread
    EXPECT_EQ(poolRaised, THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(normalRaised, THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(newcomerRaised, THREAD_PRIORITY_ABOVE_NORMAL);
}

}  // namespace
