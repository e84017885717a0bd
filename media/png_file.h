// Pictures for people to look at: a PNG file written with libavcodec's encoder.
#pragma once

#include <cstdint>
#include <string>

// Writes width x height packed RGB24 pixels, top row first, to `path`.
// False with the cause in `error` when the encoder or the file fails.
bool WritePng(const std::string& path, const std::uint8_t* rgb, int width, int height, std::string& error);
