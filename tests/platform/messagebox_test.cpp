// Message box presenters, the string table lookup and four-character codes:
// the small stand-ins the settings and messages stand on.

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "platform/mmsystem.h"
#include "platform/module.h"
#include "platform/msgbox.h"

namespace {

std::string Contents(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
    return text;
}

TEST(FourCharacterCode, PadsWithBlanksAndKeepsCase) {
    EXPECT_EQ(mmioStringToFOURCC("DIB", 0), 0x20424944u);
    EXPECT_EQ(mmioStringToFOURCC("vids", 0), 0x73646976u);
    EXPECT_EQ(mmioStringToFOURCC("dib", 0), mmioFOURCC('d', 'i', 'b', ' '));
    EXPECT_EQ(mmioStringToFOURCC("", 0), 0x20202020u);
    EXPECT_EQ(mmioStringToFOURCC("H264extra", 0), mmioFOURCC('H', '2', '6', '4'));
    EXPECT_EQ(mmioStringToFOURCC("dv", MMIO_TOUPPER), mmioFOURCC('D', 'V', ' ', ' '));
}

TEST(StringTable, LoadsWithinTheBufferAndRefusesUnknownIds) {
    const StringResource strings[] = {{5, "short"}, {7, "a longer text"}, {9, ""}};
    const ResourceModule module{strings, 3};
    char buffer[8];
    EXPECT_EQ(LoadStringA(&module, 5, buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "short");
    EXPECT_EQ(LoadStringA(&module, 7, buffer, sizeof buffer), 7);
    EXPECT_STREQ(buffer, "a longe");
    EXPECT_EQ(LoadStringA(&module, 6, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(LoadStringA(&module, 7 + 65536, buffer, sizeof buffer), 0);
    EXPECT_EQ(LoadStringA(&module, 9, buffer, sizeof buffer), 0);
    EXPECT_EQ(LoadStringA(&module, 5, buffer, 1), 0);
    EXPECT_STREQ(buffer, "");

    EXPECT_EQ(GetModuleHandleA("other.dll"), nullptr);
    ASSERT_EQ(GetModuleHandleA(nullptr), &tavrickResources);
    char caption[256];
    EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 103, caption, sizeof caption), 7);
    EXPECT_STREQ(caption, "Tavrick");
}

TEST(ConsolePresenter, PrintsCaptionAndTextAndAnswersFromItsSetting) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    ConsoleMessageBox console{stream, IDYES};
    EXPECT_EQ(PresentOnConsole(&console, nullptr, "Done successfully!", "Tavrick", MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(PresentOnConsole(&console, nullptr, "Overwrite it?", "Tavrick", MB_ICONQUESTION | MB_YESNO), IDYES);
    console.questionAnswer = IDNO;
    EXPECT_EQ(PresentOnConsole(&console, nullptr, "Again?", "Tavrick", MB_YESNO), IDNO);
    console.questionAnswer = IDOK;  // not an answer to a question: No
    EXPECT_EQ(PresentOnConsole(&console, nullptr, "Once more?", "Tavrick", MB_YESNO), IDNO);
    EXPECT_EQ(Contents(stream),
              "Tavrick: Done successfully!\nTavrick: Overwrite it?\n"
              "Tavrick: Again?\nTavrick: Once more?\n");
    std::fclose(stream);
}

}  // namespace
