// A 24-bit BGR picture as the frames hold it, seen from its top row.
#pragma once

#include <cstddef>
#include <cstdint>

// `stride` is negative for the bottom-up rows of a DIB. Only 3 * width bytes
// of each row are pixels.
struct BgrPicture {
    const std::uint8_t* top = nullptr;
    std::ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
};

// The view of a bottom-up DIB of `rows` rows of `stride` bytes.
inline BgrPicture BottomUpPicture(const std::uint8_t* buffer, int width, int rows, int stride) {
    BgrPicture p;
    p.top = buffer + static_cast<std::ptrdiff_t>(rows - 1) * stride;
    p.stride = -static_cast<std::ptrdiff_t>(stride);
    p.width = width;
    p.height = rows;
    return p;
}
