// What a file opened with libavformat holds, in words for the source
// descriptions.
#pragma once

#include <string>
#include <vector>

extern "C" {
struct AVFormatContext;
}

std::vector<std::string> DescribeStreams(const AVFormatContext* format);

// The container as a user names it: libavformat reads MP4, M4V and 3GP as
// "QuickTime / MOV", so its brand tells them apart.
std::string ContainerName(const AVFormatContext* format);
