#include "app/messages.h"

#include <cstring>
#include <map>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/module.h"

namespace {

// The texts exactly as the product shows them.
const std::map<int, std::string> productTexts = {
    {103, "Tavrick"},
    {104, "Cannot handle files larger than 2 GB (2048 MB). Please divide the source file into 2 GB segments and try again."},
    {105, "Source File"},
    {106, "Cannot open the input file. Please check that it's not opened elsewhere."},
    {107, "No video stream in the input file. Possibly the file is broken."},
    {108, "Cannot get movie info. Either the file contains unsupported streams (e.g. MP3) or it is broken."},
    {110, "Cannot create the output file. Please check that it's not opened elsewhere."},
    {111, "Output file size has reached the 2 GB (2048 MB) limit. Continue processing with dividing the output file into 2 GB segments?"},
    {112, "Cannot create an output stream. Try rebooting and check your disk for errors."},
    {113, "Cannot compress a frame. Try to reboot your computer and check your disk for errors."},
    {114, "Problems with memory. Try to reboot your computer."},
    {115, "Unsupported movie format. Try converting it into different format."},
    {116, "Cannot write audio. Try to reboot your computer and check your disk for errors."},
    {117, "Done successfully!"},
    {118, "Please specify source AVI file!"},
    {119, "Please specify destination AVI file!"},
    {120, "\"%s\" already exists. Overwrite it?"},
    {121, "Destination File"},
    {122, "Cannot open or create the registry key! Try to reboot your computer."},
    {123, "Cannot rename the output file to create the first segment. Please check that it's not opened elsewhere."},
    {124, "Cannot save the registry value! Try to reboot your computer."},
};

TEST(StringTable, HoldsExactlyTheProductTexts)
{
    for (int id = 0; id <= 0xFFFF; ++id) {
        char text[messageChars];
        int length = LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), text, messageChars);
        auto expected = productTexts.find(id);
        if (expected == productTexts.end()) {
            EXPECT_EQ(length, 0) << "unexpected string " << id;
        } else {
            EXPECT_EQ(text, expected->second) << "string " << id;
            EXPECT_EQ(length, static_cast<int>(expected->second.size()));
        }
    }
}

class ShowMessageTest : public ::testing::Test {
protected:
    void SetUp() override { SetMessageBoxPresenter(PresentToRecorder, &recorder); }
    void TearDown() override { SetMessageBoxPresenter(nullptr, nullptr); }
    MessageBoxRecorder recorder;
};

TEST_F(ShowMessageTest, ShowsTheTextUnderTheCaptionTaskModal)
{
    int owner = 0;
    recorder.questionAnswer = IDYES;
    EXPECT_EQ(ShowMessage(&owner, IDS_CAPTION, IDS_DONE, MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(ShowMessage(nullptr, IDS_CAPTION, IDS_ASK_SEGMENTING, MB_ICONQUESTION | MB_YESNO), IDYES);
    recorder.questionAnswer = IDNO;
    EXPECT_EQ(ShowMessage(nullptr, IDS_CAPTION, IDS_ASK_SEGMENTING, MB_ICONQUESTION | MB_YESNO), IDNO);
    EXPECT_EQ(ShowMessage(&owner, IDS_CAPTION, IDS_CANNOT_SAVE_VALUE, MB_ICONERROR), IDOK);

    ASSERT_EQ(recorder.boxes.size(), 4u);
    EXPECT_EQ(recorder.boxes[0].owner, &owner);
    EXPECT_EQ(recorder.boxes[0].text, "Done successfully!");
    EXPECT_EQ(recorder.boxes[0].style, MB_ICONINFORMATION | MB_TASKMODAL);
    EXPECT_EQ(recorder.boxes[1].owner, nullptr);
    EXPECT_EQ(recorder.boxes[1].text, productTexts.at(111));
    EXPECT_EQ(recorder.boxes[1].style, MB_ICONQUESTION | MB_YESNO | MB_TASKMODAL);
    EXPECT_EQ(recorder.boxes[3].text, productTexts.at(124));
    EXPECT_EQ(recorder.boxes[3].style, MB_ICONERROR | MB_TASKMODAL);
    for (const RecordedMessageBox& box : recorder.boxes)
        EXPECT_EQ(box.caption, "Tavrick");
}

TEST_F(ShowMessageTest, WorksFromTwoThreadsAtOnce)
{
    auto show = [](MessageId id) {
        for (int i = 0; i < 200; ++i)
            ShowMessage(nullptr, IDS_CAPTION, id, MB_ICONERROR);
    };
    std::thread ui(show, IDS_NO_SOURCE), worker(show, IDS_CANNOT_COMPRESS);
    ui.join();
    worker.join();
    ASSERT_EQ(recorder.boxes.size(), 400u);
    int fromUi = 0;
    for (const RecordedMessageBox& box : recorder.boxes) {
        EXPECT_EQ(box.caption, "Tavrick");
        if (box.text == productTexts.at(118))
            ++fromUi;
        else
            EXPECT_EQ(box.text, productTexts.at(113));
    }
    EXPECT_EQ(fromUi, 200);
}

TEST(FileNamePart, FollowsTheBackslashThenSlashRule)
{
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

TEST(FormatFileMessage, PutsTheQuotedFileNameIntoText120)
{
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

TEST_F(ShowMessageTest, FileQuestionIsAskedLikeEveryOtherBox)
{
    recorder.questionAnswer = IDYES;
    int owner = 0;
    EXPECT_EQ(ShowFileMessage(&owner, IDS_CAPTION, IDS_ASK_OVERWRITE, "out.avi", MB_ICONQUESTION | MB_YESNO), IDYES);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].owner, &owner);
    EXPECT_EQ(recorder.boxes[0].caption, "Tavrick");
    EXPECT_EQ(recorder.boxes[0].text, "\"out.avi\" already exists. Overwrite it?");
    EXPECT_EQ(recorder.boxes[0].style, MB_ICONQUESTION | MB_YESNO | MB_TASKMODAL);
}

}  // namespace
