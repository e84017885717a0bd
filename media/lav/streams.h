// One line per stream of a file opened with libavformat, for the source
// descriptions.
#pragma once

#include <string>
#include <vector>

extern "C" {
struct AVFormatContext;
}

std::vector<std::string> DescribeStreams(const AVFormatContext* format);
