#pragma once
// The text of one key file: the .reg export syntax ("Windows Registry Editor
// Version 5.00", a [key] header, one "name"=value line per value). Pure
// functions over strings, apart from the files that hold them.

#include <string>
#include <string_view>
#include <vector>

#include "platform/wintypes.h"

struct RegistryValue {
    std::string name;  // empty: the key's default value ("@")
    DWORD type;
    std::vector<BYTE> data;
};

// Value names compare without regard to ASCII case.
bool EqualNoCase(std::string_view a, std::string_view b);

// Replaces the value of the same name, or adds it at the end.
void SetValue(std::vector<RegistryValue>& values, RegistryValue&& value);

// The values of a key file. Every value line counts, a later one replacing an
// earlier one of the same name; a line that isn't a value is skipped. Reads
// hex:, hex(<type>):, dword: and quoted strings, with a byte-order mark and
// CRLF line ends.
std::vector<RegistryValue> ParseKeyText(std::string_view text);

// The file of the key `path` ("HKEY_LOCAL_MACHINE", "Software", ...): every
// value as bytes (hex: or hex(<type>):), so it comes back exactly as stored.
std::string FormatKeyText(const std::vector<std::string>& path, const std::vector<RegistryValue>& values);
