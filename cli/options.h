// What the command line says, read into the settings record the same way the
// main dialog reads its fields.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/settings.h"

struct ConvertRequest {
    std::string source;
    std::string destination;
    // Changes to the persisted settings; what isn't given keeps its stored value.
    std::optional<double> dstRate, srcSpeed, intRange;
    std::optional<int> intMethod, deint, deintRes, aspect, letterbox, segment, cutAware;
    std::optional<int> height;  // typed height: the "Custom" preset
    std::optional<std::uint32_t> fccHandler, quality, keyFrameEvery, bytesPerSecond, interleaveEvery;
    int answer = 0;  // IDYES for --yes, IDNO for --no, 0: ask on a terminal
    bool save = false;
    bool quiet = false;
    bool verbose = false;  // report the cuts found
    int threads = 0;       // kernel threads; 0: the cores the process may use
};

// Reads the arguments after "convert". False with a message for the user
// when an argument is unknown, missing its value or not a value the product takes.
bool ParseConvertArguments(const std::vector<std::string>& args, ConvertRequest& request, std::string& error);

// Applies the request over the loaded settings (everything but the output
// height, which needs the source).
void ApplyRequest(const ConvertRequest& request, ConversionSettings& settings);

// Names of the list settings, in value order (the values are also accepted as numbers).
extern const std::vector<std::string> methodNames, deinterlaceNames, resampleNames, aspectNames, letterboxNames;
