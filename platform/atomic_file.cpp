#include "platform/atomic_file.h"

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::atomic<unsigned> tempCounter{0};
}

std::string FolderOf(const std::string& file) {
    size_t cut = file.rfind('/');
    return cut == std::string::npos ? std::string(".") : (cut == 0 ? std::string("/") : file.substr(0, cut));
}

int ReplaceFileAtomically(const std::string& file, std::string_view text) {
    std::string folder = FolderOf(file);
    // A short hidden name beside the target, so a key name near the length
    // limit still leaves room for it; O_EXCL never reuses a stale one.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = folder + "/.reg-" + std::to_string(getpid()) + "-" + std::to_string(tempCounter++) + ".new";
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t put = write(fd, data, left);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            int error = put < 0 ? errno : ENOSPC;
            close(fd);
            unlink(temp.c_str());
            return error;
        }
        data += put;
        left -= static_cast<size_t>(put);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        int error = errno;
        unlink(temp.c_str());
        return error;
    }
    if (rename(temp.c_str(), file.c_str()) != 0) {
        int error = errno;
        unlink(temp.c_str());
        return error;
    }
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return 0;
}
