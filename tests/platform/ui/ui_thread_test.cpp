// Calls from a worker thread run on the UI thread; the UI thread, waiting for
// the worker, keeps serving them, even when one of them is a question box.
// Message boxes, file dialogs and the shell through the same layer.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/msgbox.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/ui_thread.h"
#include "platform/ui/window.h"

namespace {

using namespace std::chrono_literals;

// What a modal box showed, and the button the test pressed on it.
struct SeenBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    bool taskModal = false;
};

// Answers the next message box with `press` (or Escape) as soon as it is up.
void AnswerNextBox(SeenBox* seen, QMessageBox::StandardButton press) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, seen, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        poll->stop();
        poll->deleteLater();
        seen->caption = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->taskModal = box->windowModality() == Qt::ApplicationModal;
        for (QAbstractButton* button : box->buttons()) seen->buttons << box->standardButton(button);
        if (press == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(press)->click();
    });
    poll->start(5);
}

TEST(UiThread, WorkerCallsRunOnTheUiThreadWhileItWaits) {
    std::atomic<bool> finished{false};
    int answer = 0;
    bool ranOnUi = false;
    int calls = 0;
    SeenBox seen;
    AnswerNextBox(&seen, QMessageBox::No);
    std::thread worker([&] {
        EXPECT_FALSE(IsUiThread());
        for (int i = 0; i < 50; ++i) calls = CallOnUiThread([&] { return calls + 1; });
        ranOnUi = CallOnUiThread([] { return IsUiThread(); });
        // A question from the worker while the UI thread only waits for it.
        answer = PresentWithQt(nullptr, nullptr, "Overwrite?", "Tavrick", MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL);
        finished = true;
    });
    auto start = std::chrono::steady_clock::now();
    while (!finished && std::chrono::steady_clock::now() - start < 10s) {
        std::this_thread::sleep_for(10ms);
        ServeUiCalls();
    }
    bool done = finished;
    if (!done) QApplication::closeAllWindows();
    worker.join();
    ASSERT_TRUE(done) << "the worker's calls were not served";
    EXPECT_EQ(calls, 50);
    EXPECT_TRUE(ranOnUi);
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(seen.text, "Overwrite?");
    EXPECT_EQ(CallOnUiThread([] { return 42; }), 42);  // on the UI thread itself: at once
}

TEST(MessageBoxes, CaptionIconAndButtonsFollowTheStyle) {
    struct Case {
        UINT style;
        QMessageBox::StandardButton press;
        QMessageBox::Icon icon;
        QList<QMessageBox::StandardButton> buttons;
        int result;
    };
    const Case cases[] = {
        {MB_ICONERROR | MB_TASKMODAL, QMessageBox::Ok, QMessageBox::Critical, {QMessageBox::Ok}, IDOK},
        {MB_ICONINFORMATION, QMessageBox::NoButton, QMessageBox::Information, {QMessageBox::Ok}, IDOK},
        {MB_YESNO | MB_ICONQUESTION,
         QMessageBox::Yes,
         QMessageBox::Question,
         {QMessageBox::Yes, QMessageBox::No},
         IDYES},
        // Escape on a question is No, never Yes.
        {MB_YESNO | MB_ICONQUESTION,
         QMessageBox::NoButton,
         QMessageBox::Question,
         {QMessageBox::Yes, QMessageBox::No},
         IDNO},
        {MB_OKCANCEL | MB_ICONWARNING,
         QMessageBox::NoButton,
         QMessageBox::Warning,
         {QMessageBox::Ok, QMessageBox::Cancel},
         IDCANCEL},
    };
    QWidget owner;
    for (const Case& c : cases) {
        SeenBox seen;
        AnswerNextBox(&seen, c.press);
        EXPECT_EQ(PresentWithQt(nullptr, &owner, "Done successfully!", "Tavrick", c.style), c.result);
        EXPECT_EQ(seen.caption, "Tavrick");
        EXPECT_EQ(seen.text, "Done successfully!");
        EXPECT_EQ(seen.icon, c.icon);
        std::sort(seen.buttons.begin(), seen.buttons.end());
        QList<QMessageBox::StandardButton> want = c.buttons;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(seen.buttons, want);
        EXPECT_TRUE(seen.taskModal);
    }
}

struct ShellCall {
    std::string verb, file, directory;
    int calls = 0;
};

bool RecordShell(void* context, const char* verb, const char* file, const char*, const char* directory, int) {
    auto* call = static_cast<ShellCall*>(context);
    *call = {verb ? verb : "", file ? file : "", directory ? directory : "", call->calls + 1};
    return true;
}

TEST(Shell, OpenGoesToTheHandlerAndAMissingFileFails) {
    ShellCall call;
    SetShellOpenHandler(RecordShell, &call);
    EXPECT_GT(ShellExecuteA(nullptr, "open", "/opt/t\\Guide\\index.htm", nullptr, "/opt/t\\", SW_SHOW), 32);
    EXPECT_EQ(call.calls, 1);
    EXPECT_EQ(call.verb, "open");
    EXPECT_EQ(call.file, "/opt/t\\Guide\\index.htm");
    SetShellOpenHandler(nullptr, nullptr);
    // The desktop handler: a file that isn't there is refused before anything starts.
    EXPECT_EQ(ShellExecuteA(nullptr, "open", "/nonexistent\\Guide\\index.htm", nullptr, "/nonexistent\\", SW_SHOW), 2);
}

class FileDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrick-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Runs act on the next Qt file dialog once it is up.
    static void OnNextDialog(std::function<void(QFileDialog*)> act) {
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [poll, act] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll->stop();
            poll->deleteLater();
            act(dialog);
        });
        poll->start(5);
    }

    // Types name into the next Qt file dialog and presses Enter; records what it showed.
    void TypeIntoNextDialog(const QString& name) {
        OnNextDialog([this, name](QFileDialog* dialog) {
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            selectedFilter = dialog->selectedNameFilter();
            overwritePrompt = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!edit) {
                dialog->reject();
                return;
            }
            edit->setFocus();
            edit->selectAll();
            QTest::keyClicks(edit, name);
            QTest::keyClick(edit, Qt::Key_Return);
            if (dialog->isVisible()) dialog->reject();
        });
    }

    std::string dir;
    QString title, selectedFilter;
    QStringList filters;
    bool overwritePrompt = true;
};

constexpr char filter[] = "Supported Files (*.avi, *.vdr)\0*.avi;*.vdr\0All Files (*.*)\0*.*\0";

TEST_F(FileDialogs, SaveKeepsANameTypedWithoutExtensionAndNeverAsksToOverwrite) {
    std::string start = dir + "/clip_proc.avi";
    char file[261] = {};
    std::snprintf(file, sizeof file, "%s", start.c_str());
    OPENFILENAMEA request;
    request.lpstrFilter = filter;
    request.lpstrFile = file;
    request.nMaxFile = sizeof file;
    request.lpstrTitle = "Destination File";
    request.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    TypeIntoNextDialog("holiday");
    ASSERT_TRUE(GetSaveFileNameA(&request));
    EXPECT_EQ(std::string(file), dir + "/holiday");
    EXPECT_EQ(title, "Destination File");
    EXPECT_EQ(filters, (QStringList{"Supported Files (*.avi, *.vdr) (*.avi *.vdr)", "All Files (*.*) (*.*)"}));
    EXPECT_EQ(selectedFilter.toStdString(), "Supported Files (*.avi, *.vdr)");
    EXPECT_FALSE(overwritePrompt);
}

TEST_F(FileDialogs, AFolderThatDoesNotExistIsRefusedWithTheDialogLeftOpen) {
    char file[261] = {};
    std::snprintf(file, sizeof file, "%s/clip_proc.avi", dir.c_str());
    OPENFILENAMEA request;
    request.lpstrFilter = filter;
    request.lpstrFile = file;
    request.nMaxFile = sizeof file;
    request.lpstrTitle = "Destination File";
    request.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    QString warning;
    bool stayedOpen = false;
    OnNextDialog([&](QFileDialog* dialog) {
        // The warning is modal over the dialog: answered by a timer of its own.
        QTimer::singleShot(50, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                warning = box->text();
                box->accept();
            }
        });
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        // Pasted rather than typed: the completer's list would take the Enter.
        edit->setFocus();
        edit->setText(QString::fromStdString(dir + "/nonexistdir/x.avi"));
        QTest::keyClick(edit, Qt::Key_Return);
        stayedOpen = dialog->isVisible();
        edit->setText(QString::fromStdString(dir + "/x.avi"));
        QTest::keyClick(edit, Qt::Key_Return);
        if (dialog->isVisible()) dialog->reject();
    });
    ASSERT_TRUE(GetSaveFileNameA(&request));
    EXPECT_EQ(warning.toStdString(),
              "The folder \"" + dir + "/nonexistdir\" does not exist.\nCheck the path and try again.");
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(std::string(file), dir + "/x.avi");

    // An open dialog without a name of its own opens in the folder asked
    // for, else in the last one a file was chosen in.
    std::filesystem::create_directory(dir + "/other");
    QString opened;
    auto look = [&opened] {
        OnNextDialog([&opened](QFileDialog* dialog) {
            opened = dialog->directory().absolutePath();
            dialog->reject();
        });
    };
    char none[261] = {};
    request.lpstrFile = none;
    request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    look();
    EXPECT_FALSE(GetOpenFileNameA(&request));
    EXPECT_EQ(opened.toStdString(), dir);
    std::string other = dir + "/other";
    request.lpstrInitialDir = other.c_str();
    look();
    EXPECT_FALSE(GetOpenFileNameA(&request));
    EXPECT_EQ(opened.toStdString(), other);
}

TEST_F(FileDialogs, OpenRefusesAPathLongerThanTheBuffer) {
    std::string name(40, 'a');
    std::ofstream(dir + "/" + name + ".avi") << "x";
    char file[261] = {};
    std::snprintf(file, sizeof file, "%s/", dir.c_str());
    OPENFILENAMEA request;
    request.lpstrFilter = filter;
    request.lpstrFile = file;
    request.nMaxFile = static_cast<DWORD>(dir.size() + 20);
    request.lpstrTitle = "Source File";
    request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    TypeIntoNextDialog(QString::fromStdString(name + ".avi"));
    EXPECT_FALSE(GetOpenFileNameA(&request));
    EXPECT_EQ(title, "Source File");

    request.nMaxFile = sizeof file;
    TypeIntoNextDialog(QString::fromStdString(name + ".avi"));
    ASSERT_TRUE(GetOpenFileNameA(&request));
    EXPECT_EQ(std::string(file), dir + "/" + name + ".avi");
}

}  // namespace
