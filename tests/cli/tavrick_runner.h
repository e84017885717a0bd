// The real tavrick as a user runs it: a settings folder of the test process's
// own, no terminal, standard output and error together.
#pragma once

#include <sys/wait.h>

#include <string>

#include "tests/media/avi_fixtures.h"
#include "tests/media/writer_fixtures.h"

struct Result {
    int code;
    std::string output;  // standard output and error
};

inline std::string Registry() { return TempDir() + "/registry"; }

// `prefix` sets variables for this run only ("TAVRICK_SIMD=scalar ").
inline Result Tavrick(const std::string& args, const std::string& prefix = "") {
    int status = 0;
    const std::string out = Capture(
        prefix + "TAVRICK_REGISTRY_DIR='" + Registry() + "' '" TAVRICK_BIN "' " + args + " </dev/null 2>&1", &status);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

inline std::string Q(const std::string& path) { return "'" + path + "'"; }
inline std::string Out(const std::string& name) { return TempDir() + "/" + name; }
inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
