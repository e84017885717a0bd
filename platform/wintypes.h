#pragma once
// The few Windows scalar types and handles the product's interfaces are written in.
// Widths follow the 32-bit platform the stored formats come from, not this one's.

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using FOURCC = DWORD;

// A window handle. The window layer decides what it points at; nullptr is "no owner".
using HWND = void*;
