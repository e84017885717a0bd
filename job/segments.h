// Output segments: the 2 GB limit and the numbered segment names.
#pragma once

#include <cstdint>
#include <string>

// A file is split once the bytes written to it exceed 2047 MiB.
constexpr std::uint32_t SegmentLimit = 0x7FF00000;
// No AVI 1.0 file may pass 2 GiB: 1 MiB above the limit, so a test that
// lowers the limit lowers this with it.
constexpr std::uint64_t SegmentHeadroom = 0x100000;

// The destination path with ".NN" in front of the file name's last '.', or
// appended when the name has none.
std::string SegmentName(const std::string& destinationPath, int segment);
