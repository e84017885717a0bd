#include "platform/threads.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace {

int NiceOf(int priority) {
    switch (priority) {
        case THREAD_PRIORITY_HIGHEST: return -10;
        case THREAD_PRIORITY_ABOVE_NORMAL: return -5;
        case THREAD_PRIORITY_BELOW_NORMAL: return 5;
        case THREAD_PRIORITY_LOWEST: return 10;
        default: return 0;
    }
}

}  // namespace

pid_t CurrentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

int GetThreadPriority(pid_t thread) {
    if (sched_getscheduler(thread) == SCHED_IDLE) return THREAD_PRIORITY_IDLE;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (errno != 0) return THREAD_PRIORITY_NORMAL;
    if (nice <= -10) return THREAD_PRIORITY_HIGHEST;
    if (nice <= -5) return THREAD_PRIORITY_ABOVE_NORMAL;
    if (nice < 5) return THREAD_PRIORITY_NORMAL;
    if (nice < 10) return THREAD_PRIORITY_BELOW_NORMAL;
    return THREAD_PRIORITY_LOWEST;
}

bool SetThreadPriority(pid_t thread, int priority) {
    sched_param param{};
    if (priority == THREAD_PRIORITY_IDLE) return sched_setscheduler(thread, SCHED_IDLE, &param) == 0;
    // Leaving idle first; the nice value applies to the normal policy.
    bool ok = true;
    if (sched_getscheduler(thread) == SCHED_IDLE) ok = sched_setscheduler(thread, SCHED_OTHER, &param) == 0;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(thread), NiceOf(priority)) == 0 && ok;
}
