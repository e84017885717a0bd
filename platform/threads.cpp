#include "platform/threads.h"

#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

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

bool HasSysNice() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    return syscall(SYS_capget, &header, data) == 0 && (data[0].effective & (1u << CAP_SYS_NICE)) != 0;
}

// Whether this process may bring a thread back up to `nice` once lowered:
// the kernel allows it within RLIMIT_NICE (20 - nice at least) or with
// CAP_SYS_NICE, and leaving the idle policy follows the same rule.
bool CanReturnTo(int nice) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NICE, &limit) == 0 &&
        (limit.rlim_cur == RLIM_INFINITY || static_cast<rlim_t>(20 - nice) <= limit.rlim_cur))
        return true;
    return HasSysNice();
}

// Every thread of this process now.
std::vector<pid_t> ProcessThreads() {
    std::vector<pid_t> threads;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return threads;
    while (dirent* entry = readdir(tasks))
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9')
            threads.push_back(static_cast<pid_t>(std::atoi(entry->d_name)));
    closedir(tasks);
    return threads;
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
    const int policy = sched_getscheduler(thread);
    if (policy < 0) return false;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (errno != 0) return false;
    // The product lowers a thread only for a while (a paused or minimised
    // run). Where Linux would not let it back up, the thread keeps its level
    // instead of running slower for the rest of the run.
    const bool lowers = priority == THREAD_PRIORITY_IDLE ? policy != SCHED_IDLE : NiceOf(priority) > nice;
    if (lowers && !CanReturnTo(nice)) return false;
    if (priority == THREAD_PRIORITY_IDLE) return sched_setscheduler(thread, SCHED_IDLE, &param) == 0;
    // Leaving idle first; the nice value applies to the normal policy.
    bool ok = true;
    if (policy == SCHED_IDLE) ok = sched_setscheduler(thread, SCHED_OTHER, &param) == 0;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(thread), NiceOf(priority)) == 0 && ok;
}

std::vector<ThreadLevel> LowerOtherThreads(int priority) {
    std::vector<ThreadLevel> levels;
    const pid_t self = CurrentThreadId();
    for (pid_t thread : ProcessThreads()) {
        if (thread == self) continue;
        const int before = GetThreadPriority(thread);
        if (SetThreadPriority(thread, priority)) levels.push_back({thread, before});
    }
    return levels;
}

void RaiseThreads(const std::vector<ThreadLevel>& levels, int lowered, int newcomer) {
    const pid_t self = CurrentThreadId();
    for (pid_t thread : ProcessThreads()) {
        if (thread == self) continue;
        auto known =
            std::find_if(levels.begin(), levels.end(), [thread](const ThreadLevel& l) { return l.thread == thread; });
        if (known != levels.end())
            SetThreadPriority(thread, known->priority);
        else if (GetThreadPriority(thread) == lowered)
            SetThreadPriority(thread, newcomer);
    }
}
