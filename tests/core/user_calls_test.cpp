// How the core reaches the user: the front end's message box, else the
// console; the front end's process end, else exit.

#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/user_calls.h"

namespace {

std::string Contents(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
    return text;
}

TEST(MessageBox, GoesToTheFrontEndsPresenterOrTheConsole) {
    MessageBoxRecorder recorder;
    recorder.questionAnswer = IDYES;
    int owner = 0;
    UserCalls user{&recorder, PresentToRecorder, nullptr};
    EXPECT_EQ(ShowMessageBox(user, &owner, "text", "caption", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(ShowMessageBox(user, nullptr, nullptr, nullptr, MB_OK), IDOK);
    ASSERT_EQ(recorder.boxes.size(), 2u);
    EXPECT_EQ(recorder.boxes[0].owner, &owner);
    EXPECT_EQ(recorder.boxes[0].caption, "caption");
    EXPECT_EQ(recorder.boxes[0].text, "text");
    EXPECT_EQ(recorder.boxes[0].style, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(recorder.boxes[1].text, "");

    // Without one, the console on standard error, answering No.
    user.messageBox = nullptr;
    std::FILE* capture = std::tmpfile();
    int savedError = dup(2);
    dup2(fileno(capture), 2);
    int answer = ShowMessageBox(user, nullptr, "Overwrite it?", "Tavrick", MB_YESNO);
    dup2(savedError, 2);
    close(savedError);
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(Contents(capture), "Tavrick: Overwrite it?\n");
    std::fclose(capture);
    EXPECT_EQ(recorder.boxes.size(), 2u);
}

int endedWith = -1;
int endCount = 0;
void RecordEnd(void*, int code) {
    endedWith = code;
    ++endCount;
}

TEST(EndProcess, GoesThroughTheFrontEndsHandler) {
    UserCalls user;
    user.endProcess = RecordEnd;
    EndProcess(user, 255);
    EXPECT_EQ(endedWith, 255);
    EXPECT_EQ(endCount, 1);
    // Without a handler the process really ends, with the code.
    EXPECT_EXIT(EndProcess(UserCalls{}, 255), ::testing::ExitedWithCode(255), "");
}

}  // namespace
