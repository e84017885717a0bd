#pragma once
// Thread priorities on Linux. The product's levels become per-thread nice
// values (raising them may be refused; that is ignored), idle becomes
// SCHED_IDLE. Threads are named by their kernel thread id.

#include <sys/types.h>

#include <vector>

inline constexpr int THREAD_PRIORITY_IDLE = -15;
inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;

// The calling thread's id, for priority changes from another thread.
pid_t CurrentThreadId();

// The level a thread runs at, read back from its scheduling policy and nice value.
int GetThreadPriority(pid_t thread);
// Sets the level; false when the system refused it (the thread keeps what it
// had). A lowering is refused too where the system would not allow the
// thread back to where it is now (no CAP_SYS_NICE, RLIMIT_NICE too small):
// Windows lets a thread's priority go down and up again, Linux does not.
bool SetThreadPriority(pid_t thread, int priority);

// A thread and the level it had before a lowering.
struct ThreadLevel {
    pid_t thread;
    int priority;
};
// Sets every thread of this process but the caller's to priority: for a
// minimised run that is the worker, its helpers and the threads its codecs
// started (their own pools, which follow no one). Returns the level each
// thread that took the change had before.
std::vector<ThreadLevel> LowerOtherThreads(int priority);
// Puts every thread of `levels` back. A thread that isn't in `levels` and
// runs at `lowered` was started by a lowered thread meanwhile (an encoder
// opened for the next segment): it goes to `newcomer`.
void RaiseThreads(const std::vector<ThreadLevel>& levels, int lowered, int newcomer);
