#include "core/messages.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/module.h"

namespace {

TEST(StringTable, HoldsIds103To124Without109) {
    int found = 0;
    for (int id = 0; id <= 0xFFFF; ++id) {
        char text[messageChars];
        if (LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), text, messageChars) > 0) {
            EXPECT_TRUE(id >= 103 && id <= 124 && id != 109) << "unexpected string " << id;
            ++found;
        }
    }
    EXPECT_EQ(found, 21);
    char text[messageChars];
    LoadStringA(GetModuleHandleA(nullptr), IDS_ASK_OVERWRITE, text, messageChars);
    EXPECT_STREQ(text, "\"%s\" already exists. Overwrite it?");
    LoadStringA(GetModuleHandleA(nullptr), IDS_CANNOT_RENAME_SEGMENT, text, messageChars);
    EXPECT_STREQ(text,
                 "Cannot rename the output file to create the first segment. "
                 "Please check that it's not opened elsewhere.");
}

class ShowMessageTest : public ::testing::Test {
protected:
    MessageBoxRecorder recorder;
    UserCalls user{&recorder, PresentToRecorder, nullptr};
};

TEST_F(ShowMessageTest, ShowsTheTextUnderTheCaptionTaskModal) {
    int owner = 0;
    recorder.questionAnswer = IDYES;
    EXPECT_EQ(ShowMessage(user, &owner, IDS_CAPTION, IDS_DONE, MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(ShowMessage(user, nullptr, IDS_CAPTION, IDS_ASK_SEGMENTING, MB_ICONQUESTION | MB_YESNO), IDYES);
    recorder.questionAnswer = IDNO;
    EXPECT_EQ(ShowMessage(user, nullptr, IDS_CAPTION, IDS_ASK_SEGMENTING, MB_ICONQUESTION | MB_YESNO), IDNO);
    EXPECT_EQ(ShowMessage(user, &owner, IDS_CAPTION, IDS_CANNOT_SAVE_VALUE, MB_ICONERROR), IDOK);

    ASSERT_EQ(recorder.boxes.size(), 4u);
    EXPECT_EQ(recorder.boxes[0].owner, &owner);
    EXPECT_EQ(recorder.boxes[0].text, "Done successfully!");
    EXPECT_EQ(recorder.boxes[0].style, MB_ICONINFORMATION | MB_TASKMODAL);
    EXPECT_EQ(recorder.boxes[1].owner, nullptr);
    EXPECT_EQ(recorder.boxes[1].text,
              "Output file size has reached the 2 GB (2048 MB) limit. Continue processing with dividing the "
              "output file into 2 GB segments?");
    EXPECT_EQ(recorder.boxes[1].style, MB_ICONQUESTION | MB_YESNO | MB_TASKMODAL);
    EXPECT_EQ(recorder.boxes[3].text, "Cannot save the registry value! Try to reboot your computer.");
    EXPECT_EQ(recorder.boxes[3].style, MB_ICONERROR | MB_TASKMODAL);
    for (const RecordedMessageBox& box : recorder.boxes) EXPECT_EQ(box.caption, "Tavrick");
}

TEST(FileNamePart, FollowsTheBackslashThenSlashRule) {
    EXPECT_STREQ(FileNamePart("D:\\video\\out.avi"), "out.avi");
    EXPECT_STREQ(FileNamePart("/home/user/out.avi"), "out.avi");
    EXPECT_STREQ(FileNamePart("out.avi"), "out.avi");
    // A backslash wins over a later forward slash.
    EXPECT_STREQ(FileNamePart("D:\\video/sub/out.avi"), "video/sub/out.avi");
    EXPECT_STREQ(FileNamePart("/home/a\\b.avi"), "b.avi");
    EXPECT_STREQ(FileNamePart("folder/"), "");
    EXPECT_STREQ(FileNamePart(""), "");
    EXPECT_STREQ(FileNamePart(nullptr), "");
}

TEST(FormatFileMessage, PutsTheQuotedFileNameIntoText120) {
    char text[messageChars];
    FormatFileMessage(IDS_ASK_OVERWRITE, "D:\\video\\out.avi", text, messageChars);
    EXPECT_STREQ(text, "\"out.avi\" already exists. Overwrite it?");
    FormatFileMessage(IDS_ASK_OVERWRITE, "/tmp/out.00.avi", text, messageChars);
    EXPECT_STREQ(text, "\"out.00.avi\" already exists. Overwrite it?");
    // A name with format directives in it is text, nothing more.
    FormatFileMessage(IDS_ASK_OVERWRITE, "/tmp/%s%n%d%%.avi", text, messageChars);
    EXPECT_STREQ(text, "\"%s%n%d%%.avi\" already exists. Overwrite it?");
    // The buffer bounds the text.
    char small[12];
    std::memset(small, 'z', sizeof small);
    FormatFileMessage(IDS_ASK_OVERWRITE, "a-long-file-name.avi", small, sizeof small);
    EXPECT_STREQ(small, "\"a-long-fil");
    std::string longName(5000, 'n');
    FormatFileMessage(IDS_ASK_OVERWRITE, longName.c_str(), text, messageChars);
    EXPECT_EQ(std::strlen(text), static_cast<size_t>(messageChars - 1));
}

TEST_F(ShowMessageTest, FileQuestionIsAskedLikeEveryOtherBox) {
    recorder.questionAnswer = IDYES;
    int owner = 0;
    EXPECT_EQ(ShowFileMessage(user, &owner, IDS_CAPTION, IDS_ASK_OVERWRITE, "out.avi", MB_ICONQUESTION | MB_YESNO),
              IDYES);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].owner, &owner);
    EXPECT_EQ(recorder.boxes[0].caption, "Tavrick");
    EXPECT_EQ(recorder.boxes[0].text, "\"out.avi\" already exists. Overwrite it?");
    EXPECT_EQ(recorder.boxes[0].style, MB_ICONQUESTION | MB_YESNO | MB_TASKMODAL);
}

}  // namespace
