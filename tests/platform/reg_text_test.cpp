// The key file text on its own: whatever a key holds comes back from its text.
#include <gtest/gtest.h>

#include <random>

#include "platform/reg_text.h"
#include "platform/registry.h"

namespace {

TEST(KeyText, EveryNameTypeAndByteSurvivesARoundTrip) {
    std::mt19937 random(20261208);
    std::vector<RegistryValue> values;
    for (int i = 0; i < 200; ++i) {
        RegistryValue v{{}, static_cast<DWORD>(random() % 12), {}};
        const int nameLength = i == 0 ? 0 : 1 + static_cast<int>(random() % 12);  // the first is "@"
        for (int c = 0; c < nameLength; ++c)
            v.name += static_cast<char>(1 + random() % 255);  // quotes, backslashes, line breaks, high bytes
        v.name += std::to_string(i);                          // distinct whatever their case
        v.data.resize(random() % 70);
        for (BYTE& b : v.data) b = static_cast<BYTE>(random());
        values.push_back(v);
    }
    values[0].name.clear();
    const std::string text = FormatKeyText({"HKEY_LOCAL_MACHINE", "Software", "Line\nbreak"}, values);
    const std::vector<RegistryValue> back = ParseKeyText(text);
    ASSERT_EQ(back.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(back[i].name, values[i].name) << i;
        EXPECT_EQ(back[i].type, values[i].type) << i;
        EXPECT_EQ(back[i].data, values[i].data) << i;
    }
}

TEST(KeyText, LaterLinesReplaceEarlierOnesWhateverTheirCase) {
    const std::vector<RegistryValue> values = ParseKeyText(
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "[HKEY_LOCAL_MACHINE\\Software]\r\n"
        "\"Rate\"=dword:00000019\r\n"
        "not a value\r\n"
        "\"rate\"=hex:01,02\r\n"
        "\"name\"=\"text\"\r\n");
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "Rate") << "the first spelling stays";
    EXPECT_EQ(values[0].type, REG_BINARY);
    EXPECT_EQ(values[0].data, (std::vector<BYTE>{1, 2}));
    EXPECT_EQ(values[1].type, REG_SZ);
    EXPECT_EQ(values[1].data, (std::vector<BYTE>{'t', 'e', 'x', 't', 0}));
}

TEST(KeyText, RegistryEditorExportsInUtf16AreRead) {
    // "Windows Registry Editor Version 5.00" files as regedit writes them:
    // UTF-16 with a byte-order mark and CRLF, here with a string beyond ASCII
    // (e, acute accent, and a character outside the basic plane).
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\Software\\Norvane Software\\Tavrick]\r\n"
        u"\"dstRate\"=hex(4):00,00,00,00,00,00,39,40\r\n"
        u"\"intMethod\"=dword:00000003\r\n"
        u"\"name\"=\"caf\u00e9 \U0001F3AC\"\r\n";
    for (bool bigEndian : {false, true}) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t unit : text) {
            const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
            bytes += bigEndian ? high : low;
            bytes += bigEndian ? low : high;
        }
        const std::vector<RegistryValue> values = ParseKeyText(bytes);
        ASSERT_EQ(values.size(), 3u) << bigEndian;
        EXPECT_EQ(values[0].name, "dstRate");
        EXPECT_EQ(values[0].data, (std::vector<BYTE>{0, 0, 0, 0, 0, 0, 0x39, 0x40}));
        EXPECT_EQ(values[1].data, (std::vector<BYTE>{3, 0, 0, 0}));
        const std::string utf8 = "caf\xC3\xA9 \xF0\x9F\x8E\xAC";
        std::vector<BYTE> expected(utf8.begin(), utf8.end());
        expected.push_back(0);
        EXPECT_EQ(values[2].data, expected) << bigEndian;
    }
}

}  // namespace
