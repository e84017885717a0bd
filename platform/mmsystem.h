#pragma once
// Four-character codes as the multimedia library makes them.

#include "platform/wintypes.h"

inline constexpr UINT MMIO_TOUPPER = 0x0010;

constexpr FOURCC mmioFOURCC(char c0, char c1, char c2, char c3) {
    return static_cast<FOURCC>(static_cast<BYTE>(c0)) | (static_cast<FOURCC>(static_cast<BYTE>(c1)) << 8) |
           (static_cast<FOURCC>(static_cast<BYTE>(c2)) << 16) | (static_cast<FOURCC>(static_cast<BYTE>(c3)) << 24);
}

// Takes the first four characters of text (stopping at its end) and pads with
// blanks: "DIB" becomes "DIB ". Letters keep their case unless MMIO_TOUPPER is given.
FOURCC mmioStringToFOURCC(const char* text, UINT flags);
