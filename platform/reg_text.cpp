#include "platform/reg_text.h"

#include <cstdio>

#include "platform/registry.h"

namespace {

using Value = RegistryValue;

// ---- Reading ---------------------------------------------------------------

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void SkipBlanks(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

// A quoted string with \\, \" and \xHH escapes; text starts after the opening quote.
bool ParseQuoted(std::string_view& text, std::string& out) {
    while (!text.empty()) {
        char c = text.front();
        text.remove_prefix(1);
        if (c == '"') return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (text.empty()) return false;
        char e = text.front();
        text.remove_prefix(1);
        if (e == '\\' || e == '"') {
            out += e;
        } else if (e == 'x' && text.size() >= 2 && HexDigit(text[0]) >= 0 && HexDigit(text[1]) >= 0) {
            out += static_cast<char>(HexDigit(text[0]) * 16 + HexDigit(text[1]));
            text.remove_prefix(2);
        } else {
            return false;
        }
    }
    return false;
}

bool ParseHexNumber(std::string_view& text, DWORD& out) {
    int count = 0;
    out = 0;
    while (!text.empty() && HexDigit(text.front()) >= 0) {
        if (++count > 8) return false;
        out = out * 16 + static_cast<DWORD>(HexDigit(text.front()));
        text.remove_prefix(1);
    }
    return count > 0;
}

// "00,39,40" with blanks around the commas and "\" at the end of a line to
// continue on the next one, as long exports are wrapped.
bool ParseHexBytes(std::string_view text, const std::vector<std::string_view>& lines, size_t& next,
                   std::vector<BYTE>& out) {
    bool wantByte = true;  // after a comma a byte must follow
    bool first = true;
    for (;;) {
        SkipBlanks(text);
        if (text.empty()) return first || !wantByte;
        if (text.front() == '\\') {
            text.remove_prefix(1);
            SkipBlanks(text);
            if (!text.empty() || next >= lines.size()) return false;
            text = lines[next++];
            continue;
        }
        if (!wantByte) {
            if (text.front() != ',') return false;
            text.remove_prefix(1);
            wantByte = true;
            continue;
        }
        if (text.size() < 2 || HexDigit(text[0]) < 0 || HexDigit(text[1]) < 0) return false;
        out.push_back(static_cast<BYTE>(HexDigit(text[0]) * 16 + HexDigit(text[1])));
        text.remove_prefix(2);
        wantByte = false;
        first = false;
    }
}

// One value line (or several, when its bytes continue); false when it is not one.
bool ParseValue(const std::vector<std::string_view>& lines, size_t& next, Value& value) {
    std::string_view text = lines[next++];
    SkipBlanks(text);
    if (text.empty()) return false;
    if (text.front() == '@') {
        text.remove_prefix(1);
    } else if (text.front() == '"') {
        text.remove_prefix(1);
        if (!ParseQuoted(text, value.name)) return false;
    } else {
        return false;
    }
    SkipBlanks(text);
    if (text.empty() || text.front() != '=') return false;
    text.remove_prefix(1);
    SkipBlanks(text);

    if (!text.empty() && text.front() == '"') {
        text.remove_prefix(1);
        std::string s;
        if (!ParseQuoted(text, s)) return false;
        SkipBlanks(text);
        if (!text.empty()) return false;
        value.type = REG_SZ;
        value.data.assign(s.begin(), s.end());
        value.data.push_back(0);
        return true;
    }
    if (text.substr(0, 6) == "dword:") {
        text.remove_prefix(6);
        DWORD number;
        if (!ParseHexNumber(text, number)) return false;
        SkipBlanks(text);
        if (!text.empty()) return false;
        value.type = REG_DWORD;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<BYTE>(number >> (8 * i)));
        return true;
    }
    if (text.substr(0, 4) == "hex:") {
        text.remove_prefix(4);
        value.type = REG_BINARY;
        return ParseHexBytes(text, lines, next, value.data);
    }
    if (text.substr(0, 4) == "hex(") {
        text.remove_prefix(4);
        if (!ParseHexNumber(text, value.type) || text.substr(0, 2) != "):") return false;
        text.remove_prefix(2);
        return ParseHexBytes(text, lines, next, value.data);
    }
    return false;
}

// The registry editor exports UTF-16 with a byte-order mark; as UTF-8 its
// lines read like any other file's. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](size_t at) {
        const unsigned char a = static_cast<unsigned char>(bytes[at]), b = static_cast<unsigned char>(bytes[at + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
        unsigned code = static_cast<unsigned>(unit(at));
        if (code >= 0xD800 && code < 0xDC00 && at + 3 < bytes.size()) {
            const unsigned low = static_cast<unsigned>(unit(at + 2));
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                at += 2;
            }
        }
        if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// ---- Writing ---------------------------------------------------------------

void AppendQuoted(std::string& out, const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += digits[u >> 4];
            out += digits[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

void SetValue(std::vector<RegistryValue>& values, RegistryValue&& value) {
    for (Value& old : values) {
        if (EqualNoCase(old.name, value.name)) {
            old.type = value.type;
            old.data = std::move(value.data);
            return;
        }
    }
    values.push_back(std::move(value));
}

// The file is the key: its header and the version line are for people; every
// value line counts, a later one replacing an earlier one of the same name, and
// a line that isn't a value is skipped.
std::vector<RegistryValue> ParseKeyText(std::string_view text) {
    if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") {
        const std::string utf8 = Utf16ToUtf8(text.substr(2), text[0] == '\xFE');
        return ParseKeyText(utf8);
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t cut = text.find('\n');
        std::string_view line = text.substr(0, cut);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (cut == std::string_view::npos) break;
        text.remove_prefix(cut + 1);
    }
    std::vector<Value> values;
    for (size_t next = 0; next < lines.size();) {
        Value value{{}, REG_NONE, {}};
        if (ParseValue(lines, next, value)) SetValue(values, std::move(value));
    }
    return values;
}

std::string FormatKeyText(const std::vector<std::string>& path, const std::vector<RegistryValue>& values) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "Windows Registry Editor Version 5.00\n\n[";
    for (size_t i = 0; i < path.size(); ++i) {
        if (i) out += '\\';
        // The header only tells a reader which key this is; a line break in a
        // key name must not turn into a value line of its own.
        for (char c : path[i]) {
            unsigned char u = static_cast<unsigned char>(c);
            out += (u < 0x20 || u == 0x7F) ? '?' : c;
        }
    }
    out += "]\n";
    for (const Value& value : values) {
        if (value.name.empty())
            out += '@';
        else
            AppendQuoted(out, value.name);
        // Always bytes, never dword: or a string: that way every value comes
        // back exactly as stored, whatever its type and length.
        if (value.type == REG_BINARY) {
            out += "=hex:";
        } else {
            out += "=hex(";
            char number[16];
            std::snprintf(number, sizeof number, "%x", value.type);
            out += number;
            out += "):";
        }
        for (size_t i = 0; i < value.data.size(); ++i) {
            if (i) out += ',';
            out += digits[value.data[i] >> 4];
            out += digits[value.data[i] & 15];
        }
        out += '\n';
    }
    return out;
}
