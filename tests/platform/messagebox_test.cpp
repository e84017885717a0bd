// Message boxes, the string table lookup, four-character codes and ending the
// process: the small stand-ins the settings and messages stand on.

#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/mmsystem.h"
#include "platform/module.h"
#include "platform/msgbox.h"
#include "platform/process.h"

namespace {

std::string Contents(std::FILE* stream)
{
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    for (int c; (c = std::fgetc(stream)) != EOF;)
        text += static_cast<char>(c);
    return text;
}

TEST(FourCharacterCode, PadsWithBlanksAndKeepsCase)
{
    EXPECT_EQ(mmioStringToFOURCC("DIB", 0), 0x20424944u);
    EXPECT_EQ(mmioStringToFOURCC("vids", 0), 0x73646976u);
    EXPECT_EQ(mmioStringToFOURCC("dib", 0), mmioFOURCC('d', 'i', 'b', ' '));
    EXPECT_EQ(mmioStringToFOURCC("", 0), 0x20202020u);
    EXPECT_EQ(mmioStringToFOURCC("H264extra", 0), mmioFOURCC('H', '2', '6', '4'));
    EXPECT_EQ(mmioStringToFOURCC("dv", MMIO_TOUPPER), mmioFOURCC('D', 'V', ' ', ' '));
}

TEST(StringTable, LoadsWithinTheBufferAndRefusesUnknownIds)
{
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

TEST(ConsolePresenter, PrintsCaptionAndTextAndAnswersFromItsSetting)
{
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    ConsoleMessageBox console{stream, IDYES};
    EXPECT_EQ(PresentOnConsole(&console, nullptr, "Done successfully!", "Tavrick", MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(PresentOnConsole(&console, nullptr, "Overwrite it?", "Tavrick", MB_ICONQUESTION | MB_YESNO), IDYES);
    console.questionAnswer = IDNO;
    EXPECT_EQ(PresentOnConsole(&console, nullptr, "Again?", "Tavrick", MB_YESNO), IDNO);
    console.questionAnswer = IDOK;  // not an answer to a question: No
    EXPECT_EQ(PresentOnConsole(&console, nullptr, "Once more?", "Tavrick", MB_YESNO), IDNO);
    EXPECT_EQ(Contents(stream), "Tavrick: Done successfully!\nTavrick: Overwrite it?\n"
                                "Tavrick: Again?\nTavrick: Once more?\n");
    std::fclose(stream);
}

TEST(MessageBox, GoesToTheInstalledPresenterUntilItIsRemoved)
{
    MessageBoxRecorder recorder;
    recorder.questionAnswer = IDYES;
    int owner = 0;
    SetMessageBoxPresenter(PresentToRecorder, &recorder);
    EXPECT_EQ(MessageBoxA(&owner, "text", "caption", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_OK), IDOK);
    ASSERT_EQ(recorder.boxes.size(), 2u);
    EXPECT_EQ(recorder.boxes[0].owner, &owner);
    EXPECT_EQ(recorder.boxes[0].caption, "caption");
    EXPECT_EQ(recorder.boxes[0].text, "text");
    EXPECT_EQ(recorder.boxes[0].style, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(recorder.boxes[1].text, "");

    // Removing it brings back the console on standard error, answering No.
    SetMessageBoxPresenter(nullptr, nullptr);
    std::FILE* capture = std::tmpfile();
    int savedError = dup(2);
    dup2(fileno(capture), 2);
    int answer = MessageBoxA(nullptr, "Overwrite it?", "Tavrick", MB_YESNO);
    dup2(savedError, 2);
    close(savedError);
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(Contents(capture), "Tavrick: Overwrite it?\n");
    std::fclose(capture);
    EXPECT_EQ(recorder.boxes.size(), 2u);
}

int endedWith = -1;
int endCount = 0;
void RecordEnd(int code)
{
    endedWith = code;
    ++endCount;
}

TEST(EndProcess, GoesThroughTheInstalledHandler)
{
    EXPECT_EQ(SetProcessEndHandler(RecordEnd), nullptr);
    EndProcess(255);
    EXPECT_EQ(endedWith, 255);
    EXPECT_EQ(endCount, 1);
    EXPECT_EQ(SetProcessEndHandler(nullptr), RecordEnd);
    // Without a handler the process really ends, with the code.
    EXPECT_EXIT(EndProcess(255), ::testing::ExitedWithCode(255), "");
}

}  // namespace
