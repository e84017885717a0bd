#include "job/segments.h"

#include <cstdio>

std::string SegmentName(const std::string& destinationPath, int segment) {
    char number[16];
    std::snprintf(number, sizeof number, ".%02d", segment);
    // Only the file name is searched: a dot in a folder name must not send
    // the segments into a folder that doesn't exist.
    const std::size_t nameStart =
        destinationPath.find_last_of('/') == std::string::npos ? 0 : destinationPath.find_last_of('/') + 1;
    const std::size_t dot = destinationPath.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return destinationPath + number;
    return destinationPath.substr(0, dot) + number + destinationPath.substr(dot);
}
