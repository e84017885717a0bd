// What both fuzz targets share: the input as a file the readers open by
// name (in memory, written anew for each input), and the finding.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/mman.h>

// A result no caller may ever see: report it and stop, so the fuzzer keeps the input.
inline void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "unexpected result: %s\n", what);
        std::abort();
    }
}

// The path of an in-memory file holding exactly these bytes.
inline const char* InputAsFile(const std::uint8_t* data, std::size_t size) {
    static int memoryFile = -1;
    static std::string memoryPath;
    if (memoryFile < 0) {
        memoryFile = memfd_create("input", 0);
        if (memoryFile < 0) std::abort();
        memoryPath = "/proc/self/fd/" + std::to_string(memoryFile);
    }
    if (ftruncate(memoryFile, 0) != 0 || pwrite(memoryFile, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    return memoryPath.c_str();
}
