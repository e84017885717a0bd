// Events reach the dialog procedure as the product's dialog code expects them,
// from real key presses and clicks; modal dialogs end with their code.

#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include "platform/module.h"
#include "platform/ui/window.h"

namespace {

struct Recorder {
    std::vector<DialogEvent> events;
    bool handleClose = true;
    bool shownAtInit = true;
    int endOnCommand = -1;  // EndDialog with this code on the command of this id
    int endAtInit = -1;
};

bool Record(HWND dialog, const DialogEvent& event, void* param) {
    auto* recorder = static_cast<Recorder*>(param);
    recorder->events.push_back(event);
    if (event.kind == DialogEventKind::Init) {
        recorder->shownAtInit = static_cast<QWidget*>(dialog)->isVisible();
        if (recorder->endAtInit >= 0) EndDialog(dialog, recorder->endAtInit);
    }
    if (event.kind == DialogEventKind::Command && event.control == recorder->endOnCommand)
        EndDialog(dialog, 100 + event.control);
    return event.kind != DialogEventKind::Close || recorder->handleClose;
}

class DialogEvents : public ::testing::Test {
protected:
    void SetUp() override {
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), 101, nullptr, Record, &recorder);
        ASSERT_NE(dialog, nullptr);
        window()->activateWindow();
        QApplication::setActiveWindow(window());
        QApplication::processEvents();
    }
    void TearDown() override { DestroyWindow(dialog); }

    QWidget* window() const { return static_cast<QWidget*>(dialog); }
    QWidget* item(int id) const { return static_cast<QWidget*>(GetDlgItem(dialog, id)); }

    // The events after the last clear, of one kind.
    std::vector<DialogEvent> Of(DialogEventKind kind) const {
        std::vector<DialogEvent> found;
        for (const DialogEvent& event : recorder.events)
            if (event.kind == kind) found.push_back(event);
        return found;
    }
    std::vector<int> Commands(int notification) const {
        std::vector<int> ids;
        for (const DialogEvent& event : Of(DialogEventKind::Command))
            if (event.notification == notification) ids.push_back(event.control);
        return ids;
    }

    Recorder recorder;
    HWND dialog = nullptr;
};

TEST_F(DialogEvents, InitComesFirstBeforeTheDialogShows) {
    ASSERT_FALSE(recorder.events.empty());
    EXPECT_EQ(recorder.events.front().kind, DialogEventKind::Init);
    EXPECT_FALSE(recorder.shownAtInit);
    EXPECT_EQ(GetDialogParam(dialog), &recorder);
    // The dialog manager's initial focus: the first tab stop.
    EXPECT_EQ(QApplication::focusWidget(), item(1001));
}

TEST_F(DialogEvents, ButtonsAndKeysGiveTheirCommands) {
    recorder.events.clear();
    QTest::mouseClick(item(1012), Qt::LeftButton);
    QTest::mouseClick(item(1013), Qt::LeftButton);
    EXPECT_TRUE(IsDlgButtonChecked(dialog, 1013));  // ticked before the procedure hears of it
    // Enter in an edit is the default button; on a focused push button, that button.
    item(1003)->setFocus();
    QTest::keyClick(item(1003), Qt::Key_Return);
    item(1002)->setFocus();
    QTest::keyClick(item(1002), Qt::Key_Return);
    QTest::keyClick(item(1003), Qt::Key_Escape);
    EXPECT_EQ(Commands(BN_CLICKED), (std::vector<int>{1012, 1013, 1, 1002, 2}));

    QTest::keyClick(item(1005), Qt::Key_F1);
    EXPECT_EQ(Of(DialogEventKind::Help).size(), 1u);

    // A close the procedure handles stays with it; an unhandled one becomes id 2.
    recorder.events.clear();
    window()->close();
    EXPECT_EQ(Of(DialogEventKind::Close).size(), 1u);
    EXPECT_TRUE(Commands(BN_CLICKED).empty());
    EXPECT_TRUE(window()->isVisible());
    recorder.handleClose = false;
    PostClose(dialog);
    PostCommand(dialog, 4);
    EXPECT_TRUE(Of(DialogEventKind::Close).size() == 1u);  // posted: not yet
    QApplication::processEvents();
    EXPECT_EQ(Of(DialogEventKind::Close).size(), 2u);
    EXPECT_EQ(Commands(BN_CLICKED), (std::vector<int>{2, 4}));
}

TEST_F(DialogEvents, EditsReportTypingWithTheCaretAndTheLostFocus) {
    auto* rate = static_cast<QLineEdit*>(item(1005));
    rate->setFocus();
    recorder.events.clear();
    QTest::keyClicks(rate, "25");
    QTest::keyClick(rate, Qt::Key_Left);
    QTest::keyClick(rate, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClicks(rate, "9");
    std::vector<DialogEvent> updates = Of(DialogEventKind::Command);
    ASSERT_EQ(updates.size(), 3u);
    EXPECT_EQ(updates[0].control, 1005);
    EXPECT_EQ(updates[0].notification, EN_UPDATE);
    EXPECT_EQ(updates[1].selectionEnd, 2);
    EXPECT_EQ(updates[2].selectionStart, 1);  // "9" replaced the selected "2"
    EXPECT_EQ(updates[2].selectionEnd, 1);
    char text[16];
    GetDlgItemTextA(dialog, 1005, text, sizeof text);
    EXPECT_STREQ(text, "95");

    SetEditSelection(dialog, 1005, 0, 2);
    int start = -1, end = -1;
    GetEditSelection(dialog, 1005, &start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 2);

    // Text set by the program is reported too: the procedure tells typing apart itself.
    recorder.events.clear();
    SetDlgItemTextA(dialog, 1018, "100");
    EXPECT_EQ(Commands(EN_UPDATE), std::vector<int>{1018});

    recorder.events.clear();
    QTest::keyClick(rate, Qt::Key_Tab);
    EXPECT_EQ(Commands(EN_KILLFOCUS), std::vector<int>{1005});

    // Digits only where the template says so.
    auto* range = static_cast<QLineEdit*>(item(1006));
    range->setFocus();
    QTest::keyClicks(range, "2a,9");
    EXPECT_EQ(range->text(), "29");
}

TEST_F(DialogEvents, ListsReportOnlyACompletedChoice) {
    for (const char* label : {"Coarse", "Linear (fast)", "Sine (good)"}) AddListItem(dialog, 1014, label);
    EXPECT_EQ(GetListCount(dialog, 1014), 3);
    EXPECT_EQ(GetListSelection(dialog, 1014), -1);
    recorder.events.clear();
    SetListSelection(dialog, 1014, 1);
    SetListSelection(dialog, 1015, 0);  // an empty list: nothing
    EXPECT_EQ(GetListSelection(dialog, 1014), 1);
    EXPECT_EQ(GetListSelection(dialog, 1015), -1);
    EXPECT_TRUE(Of(DialogEventKind::Command).empty());

    item(1014)->setFocus();
    QTest::keyClick(item(1014), Qt::Key_Down);
    EXPECT_EQ(GetListSelection(dialog, 1014), 2);
    EXPECT_EQ(Commands(CBN_SELENDOK), std::vector<int>{1014});

    SetListSelection(dialog, 1014, 12);  // outside the list
    EXPECT_EQ(GetListSelection(dialog, 1014), -1);
}

TEST_F(DialogEvents, UpDownsStepTheirBuddiesWithinTheRange) {
    // 1008 writes its position into the range field; 1007 leaves the rate field to the procedure.
    SetSpinRange(dialog, 1008, 1, 100);
    // The program's own position is written too: an empty field gets the number,
    // and one the range clamps is shown as asked, so the setting behind it is kept.
    SetDlgItemTextA(dialog, 1006, "");
    SetSpinPos(dialog, 1008, 0);
    EXPECT_EQ(GetSpinPos(dialog, 1008), 1);
    char text[16];
    GetDlgItemTextA(dialog, 1006, text, sizeof text);
    EXPECT_STREQ(text, "0");
    SetSpinPos(dialog, 1008, 99);
    GetDlgItemTextA(dialog, 1006, text, sizeof text);
    EXPECT_STREQ(text, "99");
    auto arrows = item(1008)->findChildren<QToolButton*>();
    ASSERT_EQ(arrows.size(), 2);
    QToolButton* up = arrows[0]->arrowType() == Qt::UpArrow ? arrows[0] : arrows[1];
    QToolButton* down = up == arrows[0] ? arrows[1] : arrows[0];

    recorder.events.clear();
    QTest::mouseClick(up, Qt::LeftButton);
    QTest::mouseClick(up, Qt::LeftButton);  // at the top: no move, no event
    std::vector<DialogEvent> moves = Of(DialogEventKind::VScroll);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].control, 1008);
    EXPECT_EQ(moves[0].position, 100);
    GetDlgItemTextA(dialog, 1006, text, sizeof text);
    EXPECT_STREQ(text, "100");

    // A typed number is where the next step starts from.
    SetDlgItemTextA(dialog, 1006, "29");
    QTest::mouseClick(down, Qt::LeftButton);
    EXPECT_EQ(GetSpinPos(dialog, 1008), 28);
    GetDlgItemTextA(dialog, 1006, text, sizeof text);
    EXPECT_STREQ(text, "28");

    SetSpinRange(dialog, 1007, 1, 32767);
    SetSpinPos(dialog, 1007, 29);
    SetDlgItemTextA(dialog, 1005, "29.97");
    recorder.events.clear();
    item(1005)->setFocus();
    QTest::keyClick(item(1005), Qt::Key_Up);
    moves = Of(DialogEventKind::VScroll);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].control, 1007);
    EXPECT_EQ(moves[0].position, 30);
    GetDlgItemTextA(dialog, 1005, text, sizeof text);
    EXPECT_STREQ(text, "29.97");  // 1007 doesn't write its buddy, not even when set
    SetSpinPos(dialog, 1007, 12);
    GetDlgItemTextA(dialog, 1005, text, sizeof text);
    EXPECT_STREQ(text, "29.97");

    int low = 0, high = 0;
    SetSpinRange(dialog, 1020, 288, 32767);
    SetSpinPos(dialog, 1020, 5);
    GetSpinRange(dialog, 1020, &low, &high);
    EXPECT_EQ(low, 288);
    EXPECT_EQ(high, 32767);
    EXPECT_EQ(GetSpinPos(dialog, 1020), 288);
}

TEST_F(DialogEvents, ControlsByIdAndWindowState) {
    EnableDlgItem(dialog, 1011, false);
    EXPECT_FALSE(IsDlgItemEnabled(dialog, 1011));
    EXPECT_FALSE(IsDlgItemShown(dialog, 1023));
    ShowDlgItem(dialog, 1023, true);
    EXPECT_TRUE(item(1023)->isVisible());
    EXPECT_EQ(GetDlgItem(dialog, 4242), nullptr);
    EXPECT_FALSE(SetDlgItemTextA(dialog, 4242, "x"));
    EXPECT_EQ(GetListSelection(dialog, 4242), -1);

    SetWindowTextA(dialog, "25% done - Tavrick");
    char title[64];
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "25% done - Tavrick");
    GetWindowTextA(dialog, title, 4);
    EXPECT_STREQ(title, "25%");

    recorder.events.clear();
    ShowWindow(dialog, SW_MINIMIZE);
    QApplication::processEvents();
    EXPECT_TRUE(IsIconic(dialog));
    EXPECT_EQ(Of(DialogEventKind::Minimise).size(), 1u);
    ShowWindow(dialog, SW_RESTORE);
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(window());
    QApplication::processEvents();
    std::vector<DialogEvent> activations = Of(DialogEventKind::Activate);
    ASSERT_FALSE(activations.empty());
    // Restored and activated without a click: the product restores the worker's priority then.
    EXPECT_TRUE(activations.back().minimised);
    EXPECT_FALSE(activations.back().byMouseClick);
}

TEST(ModalDialogs, EndWithTheirCodeAndNeverShowWhenInitEndsThem) {
    Recorder early;
    early.endAtInit = 7;
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), 104, nullptr, Record, &early), 7);
    EXPECT_EQ(early.events.size(), 1u);

    // Escape in the progress dialog gives id 2, which this procedure ends with 102.
    Recorder modal;
    modal.endOnCommand = 2;
    QWidget owner;
    owner.show();
    bool ownedAndModal = false;
    QTimer::singleShot(0, [&] {
        QWidget* active = QApplication::activeModalWidget();
        ownedAndModal = active && active->parentWidget() == &owner && active->isModal();
        if (active) QTest::keyClick(active, Qt::Key_Escape);
    });
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), 104, &owner, Record, &modal), 102);
    EXPECT_TRUE(ownedAndModal);
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), 999, nullptr, Record, &modal), -1);
}

}  // namespace
