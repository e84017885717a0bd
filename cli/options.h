// What the command line says, read into the settings record the same way the
// main dialog reads its fields.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/settings.h"
#include "media/lav/output_codecs.h"

struct ConvertRequest {
    std::string source;
    std::string destination;
    // Changes to the persisted settings; what isn't given keeps its stored value.
    std::optional<double> dstRate, srcSpeed, intRange;
    std::array<std::uint32_t, 2> dstRateFraction{};  // with dstRate: its exact fraction, or {0, 0}
    std::optional<int> intMethod, deint, deintRes, aspect, letterbox, segment, cutAware;
    std::optional<int> height;  // typed height: the "Custom" preset
    std::optional<std::uint32_t> fccHandler, quality, keyFrameEvery, bytesPerSecond, interleaveEvery;
    int answer = 0;  // IDYES for --yes, IDNO for --no, 0: ask on a terminal
    bool save = false;
    bool quiet = false;
    bool verbose = false;  // report the cuts found
    int threads = 0;       // kernel threads; 0: the cores the process may use
    // How the source is read: the grid rate (num 0: the stream's average),
    // which audio stream, or none.
    std::uint32_t sourceRateNum = 0, sourceRateDen = 1;
    int audioStream = 0;
    bool noAudio = false;
    // Destinations outside AVI: the sound's codec and the x264/x265 preset.
    std::optional<AudioChoice> audioCodec;
    std::string preset;
};

// Reads the arguments after "convert". False with a message for the user
// when an argument is unknown, missing its value or not a value the product takes.
bool ParseConvertArguments(const std::vector<std::string>& args, ConvertRequest& request, std::string& error);

// Applies the request over the loaded settings (everything but the output
// height, which needs the source).
void ApplyRequest(const ConvertRequest& request, ConversionSettings& settings);

// A frame rate as a decimal ("29.97") or a fraction ("30000/1001"), exactly;
// false when it is neither or outside 0.001..1000000.
bool ParseExactRate(const std::string& text, std::uint32_t& num, std::uint32_t& den);

// Names of the list settings, in value order (the values are also accepted as numbers).
extern const std::vector<std::string> methodNames, deinterlaceNames, resampleNames, aspectNames, letterboxNames;
