// Opening a file with libavformat so that only that file is ever read: our
// own I/O over its descriptor (shared lock, as every source), no protocol,
// no nested opens, container demuxers only, bounded probing and a deadline
// on every call that may loop over damaged data.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
struct AVFormatContext;
}

struct LavInput {
    AVFormatContext* format = nullptr;
    int fd = -1;
    std::int64_t size = 0;
    std::int64_t position = 0;
    std::int64_t deadlineNs = 0;  // monotonic; 0: none
};

// Opens and probes `path`; false with *why in words when it isn't a
// container we read. Stream information is found too.
bool OpenLavInput(LavInput& in, const char* path, std::string* why);
void CloseLavInput(LavInput& in);
// Calls into the demuxer or decoder after this give up `seconds` from now.
void SetLavDeadline(LavInput& in, double seconds);

// libavformat's words for an error code.
std::string LavErrorText(int code);
