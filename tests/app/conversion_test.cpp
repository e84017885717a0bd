// Real conversions through "&GO!", the progress dialog and the worker: the
// result message, a file ffprobe plays, the title's percentages, pause and
// stop, the questions, and a close while the worker asks one.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>

#include "app/binding.h"
#include "app/options_dialog.h"
#include "platform/threads.h"
#include "platform/ui/ui_thread.h"
#include "tests/app/gui_fixture.h"
#include "tests/media/writer_fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;

// Every title the main window showed.
class TitleLog : public QObject {
public:
    explicit TitleLog(QWidget* window) : window_(window) { window->installEventFilter(this); }
    std::vector<std::string> titles;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::WindowTitleChange)
            titles.push_back(window_->windowTitle().toStdString());
        return false;
    }

private:
    QWidget* window_;
};

QAbstractButton* ProgressButton(int id) {
    return static_cast<QAbstractButton*>(GetDlgItem(appState.progressWindow, id));
}

class Conversion : public MainDialogTest {
protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        OpenMainDialog();
        appState.settings.dstRate = 50;
        appState.settings.intMethod = InterpolationMethod::Lansin2;
        appState.settings.pOptions.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
        RefreshMainDialog(dialog, false);
        ChooseSource(WriteTestClip(base + "/clip.avi", 64, 48, 25));
        destination = base + "/clip_proc.avi";
        ASSERT_EQ(Text(IDC_DESTINATION_PATH), destination);
        SetOptionsDialogDriver(Accept, this);
    }

    // The options dialog: what it showed, then OK (or Cancel).
    static void Accept(void* dialog, void* self) {
        auto* test = static_cast<Conversion*>(self);
        auto* options = static_cast<QDialog*>(dialog);
        test->optionsShown = true;
        test->optionsOwner = options->parentWidget();
        if (test->pauseFirst) ProgressButton(1020)->click();
        if (test->minimiseFirst) {
            test->Minimise();
            test->mainMinimised = IsIconic(test->dialog);
            test->loweredPriority = GetThreadPriority(appState.session.worker.threadId);
            test->threadsLowered = ThreadsAt(THREAD_PRIORITY_BELOW_NORMAL);
            test->threadsOther = OtherThreads() - test->threadsLowered;
            test->Restore();
            test->restoredPriority = GetThreadPriority(appState.session.worker.threadId);
            test->threadsLeftLowered = ThreadsAt(THREAD_PRIORITY_BELOW_NORMAL);
        }
        if (test->cancelOptions)
            options->reject();
        else
            options->accept();
    }

    // Threads of the process but this one (the UI thread), and those among them at a level.
    static std::vector<pid_t> Threads() {
        std::vector<pid_t> threads;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            pid_t thread = std::stoi(task.path().filename().string());
            if (thread != CurrentThreadId()) threads.push_back(thread);
        }
        return threads;
    }
    static int OtherThreads() { return static_cast<int>(Threads().size()); }
    static int ThreadsAt(int priority) {
        int count = 0;
        for (pid_t thread : Threads()) count += GetThreadPriority(thread) == priority;
        return count;
    }

    // Presses "&GO!" and returns when the progress dialog has ended.
    void Go() { Click(IDC_GO); }

    // From the taskbar: the progress dialog minimised, then the main window brought back.
    void Minimise() {
        ShowWindow(appState.progressWindow, SW_MINIMIZE);
        QApplication::processEvents();
    }
    void Restore() {
        ShowWindow(dialog, SW_RESTORE);
        QApplication::setActiveWindow(nullptr);
        QApplication::setActiveWindow(static_cast<QWidget*>(dialog));
        QApplication::processEvents();
    }

public:
    MessageBoxRecorder& Boxes() { return boxes; }

protected:
    std::string destination;
    bool optionsShown = false;
    QWidget* optionsOwner = nullptr;
    bool pauseFirst = false;
    bool cancelOptions = false;
    bool minimiseFirst = false;
    bool mainMinimised = false;
    int loweredPriority = 0;
    int restoredPriority = 0;
    int threadsLowered = 0, threadsOther = 0, threadsLeftLowered = 0;
};

TEST_F(Conversion, RunsToDoneWithTheTitleCountingAndAPlayableFile) {
    TitleLog log(static_cast<QWidget*>(dialog));
    Go();
    ASSERT_EQ(Messages(), std::vector<std::string>{"Done successfully!"});
    EXPECT_EQ(boxes.boxes[0].style, MB_ICONINFORMATION | MB_TASKMODAL);
    EXPECT_NE(boxes.boxes[0].owner, nullptr);  // the progress dialog, still open then
    EXPECT_NE(boxes.boxes[0].owner, dialog);
    EXPECT_TRUE(optionsShown);
    EXPECT_NE(optionsOwner, static_cast<QWidget*>(dialog));
    ASSERT_GE(log.titles.size(), 2u);
    EXPECT_TRUE(std::regex_match(log.titles.front(), std::regex("[0-9]+% done - Tavrick"))) << log.titles.front();
    EXPECT_EQ(log.titles.back(), "Tavrick");

    EXPECT_EQ(Probe(destination, "stream", "codec_tag_string"), "MJPG");
    EXPECT_EQ(Probe(destination, "stream", "nb_read_frames", "v:0", true), "50");
    EXPECT_EQ(DecodeErrors(destination), "");
    // The source stays open for the next run, and the main dialog is refreshed.
    EXPECT_TRUE(appState.media.source.isOpen);
    EXPECT_EQ(appState.progressWindow, nullptr);

    // A second run of the session reuses its tables and the open source.
    std::filesystem::remove(destination);
    boxes.boxes.clear();
    Go();
    ASSERT_EQ(Messages(), std::vector<std::string>{"Done successfully!"});
    EXPECT_EQ(Probe(destination, "stream", "nb_read_frames", "v:0", true), "50");
}

TEST_F(Conversion, StopWhilePausedEndsAtOnceWithoutAMessage) {
    pauseFirst = true;
    Clock::time_point stopped{};
    // Paused before the first frame; Stop a little later.
    QTimer::singleShot(300, [&] {
        ASSERT_NE(appState.progressWindow, nullptr);
        EXPECT_TRUE(IsDlgButtonChecked(appState.progressWindow, 1020));
        stopped = Clock::now();
        ProgressButton(2)->click();
    });
    Go();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stopped).count();
    // Well under the time a paused run could take to notice (2 s allows a loaded machine).
    EXPECT_LT(took, 2000) << "stopping a paused run took " << took << " ms";
    EXPECT_TRUE(Messages().empty()) << Messages()[0];
    EXPECT_EQ(DecodeErrors(destination), "");  // what was written plays
    EXPECT_EQ(Text(IDC_SOURCE_PATH), base + "/clip.avi");
}

TEST_F(Conversion, MinimisingTheProgressDialogMinimisesAllAndSlowsTheWorkerUntilRestored) {
    minimiseFirst = true;
    Go();
    EXPECT_TRUE(mainMinimised);
    if (geteuid() == 0) {
        EXPECT_EQ(appState.savedWorkerPriority, THREAD_PRIORITY_ABOVE_NORMAL);
        EXPECT_EQ(loweredPriority, THREAD_PRIORITY_BELOW_NORMAL);
        EXPECT_EQ(restoredPriority, THREAD_PRIORITY_ABOVE_NORMAL);
        // Every other thread with the worker, and back after.
        EXPECT_GE(threadsLowered, 2);
        EXPECT_EQ(threadsOther, 0);
        EXPECT_EQ(threadsLeftLowered, 0);
    } else {
        // Without the privilege to raise it back, the worker is never lowered.
        EXPECT_EQ(loweredPriority, appState.savedWorkerPriority);
        EXPECT_EQ(restoredPriority, appState.savedWorkerPriority);
    }
    EXPECT_EQ(Messages(), std::vector<std::string>{"Done successfully!"});
}

// A paused run sleeps at idle priority; minimised and restored meanwhile, it
// goes on at the level the window asks for, not at idle or its old level.
TEST_F(Conversion, APausedRunMinimisedOrRestoredResumesAtTheWindowsLevel) {
    if (geteuid() != 0) GTEST_SKIP() << "this process may not raise a thread's priority again";
    pauseFirst = true;
    const JobControl& control = appState.session.control;
    int idle = 0, afterMinimise = 0, afterRestore = 0;
    QTimer::singleShot(300, [&] {
        idle = GetThreadPriority(appState.session.worker.threadId);
        Minimise();
        afterMinimise = control.resumePriority;
        Restore();
        afterRestore = control.resumePriority;
        ProgressButton(1020)->click();  // un-paused
    });
    Go();
    EXPECT_EQ(idle, THREAD_PRIORITY_IDLE);
    EXPECT_EQ(afterMinimise, THREAD_PRIORITY_BELOW_NORMAL);
    EXPECT_EQ(appState.savedWorkerPriority, THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(afterRestore, THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Done successfully!"});
}

TEST_F(Conversion, MinimisingMidRunLowersTheEncodersOwnThreadsToo) {
    if (geteuid() != 0) GTEST_SKIP() << "this process may not raise a thread's priority again";
    // Paused once the encoder is open, its pool of threads started by the raised worker.
    pauseFirst = true;
    std::vector<pid_t> before = Threads();
    std::vector<int> lowered, restored;
    QTimer::singleShot(400, [&] {
        ShowWindow(appState.progressWindow, SW_MINIMIZE);
        QApplication::processEvents();
        for (pid_t thread : Threads())
            if (std::find(before.begin(), before.end(), thread) == before.end())
                lowered.push_back(GetThreadPriority(thread));
        // Back from the taskbar as a window manager does it: the modal progress dialog comes up.
        ShowWindow(appState.progressWindow, SW_RESTORE);
        QApplication::setActiveWindow(nullptr);
        QApplication::setActiveWindow(static_cast<QWidget*>(appState.progressWindow));
        QApplication::processEvents();
        for (pid_t thread : Threads())
            if (std::find(before.begin(), before.end(), thread) == before.end())
                restored.push_back(GetThreadPriority(thread));
        ProgressButton(1020)->click();  // resume
    });
    Go();
    EXPECT_EQ(Messages(), std::vector<std::string>{"Done successfully!"});
    // The worker and the encoder's slice threads at least.
    ASSERT_GE(lowered.size(), 2u);
    EXPECT_EQ(std::count(lowered.begin(), lowered.end(), THREAD_PRIORITY_BELOW_NORMAL),
              static_cast<long>(lowered.size()));
    EXPECT_EQ(std::count(restored.begin(), restored.end(), THREAD_PRIORITY_BELOW_NORMAL), 0);
    EXPECT_GE(std::count(restored.begin(), restored.end(), THREAD_PRIORITY_ABOVE_NORMAL), 2);
}

TEST_F(Conversion, OverwriteAnsweredNoLeavesTheFileAlone) {
    std::ofstream(destination) << "keep me";
    boxes.questionAnswer = IDNO;
    Go();
    ASSERT_EQ(Messages(), std::vector<std::string>{"\"clip_proc.avi\" already exists. Overwrite it?"});
    EXPECT_EQ(boxes.boxes[0].style & (MB_YESNO | MB_ICONQUESTION), MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(ReadText(destination), "keep me");
    EXPECT_FALSE(optionsShown);
}

TEST_F(Conversion, CancellingTheOptionsEndsSilently) {
    cancelOptions = true;
    Go();
    EXPECT_TRUE(optionsShown);
    EXPECT_TRUE(Messages().empty()) << Messages()[0];
    char title[64];
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "Tavrick");
}

TEST_F(Conversion, ClosingWhileTheWorkerAsksDoesNotDeadlock) {
    std::ofstream(destination) << "old";
    // The worker's question comes while the UI thread is already waiting for
    // it in the close request; the box must still come up and be answered.
    appState.frontEnd.messageBox = [](void* self, HWND owner, const char* text, const char* caption, UINT style) {
        auto* test = static_cast<Conversion*>(self);
        PresentToRecorder(&test->Boxes(), owner, text, caption, style);
        if ((style & MB_TYPEMASK) != MB_YESNO) return IDOK;
        PostClose(appState.progressWindow);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return PresentWithQt(nullptr, owner, text, caption, style);
    };
    auto* answer = new QTimer;
    QObject::connect(answer, &QTimer::timeout, [answer] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            answer->stop();
            answer->deleteLater();
            box->button(QMessageBox::Yes)->click();
        }
    });
    answer->start(5);
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 300 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!finished) {
            std::fprintf(stderr, "deadlock: the close request and the worker's question wait for each other\n");
            std::_Exit(3);
        }
    });
    Go();
    finished = true;
    watchdog.join();
    // Answered Yes, then stopped by the close: no result message.
    EXPECT_EQ(Messages(), std::vector<std::string>{"\"clip_proc.avi\" already exists. Overwrite it?"});
    EXPECT_EQ(appState.progressWindow, nullptr);
}

}  // namespace
