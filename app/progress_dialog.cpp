#include "app/progress_dialog.h"

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "app/options_dialog.h"
#include "core/messages.h"
#include "media/source.h"
#include "platform/threads.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/ui_thread.h"

namespace {

constexpr int IDC_STATUS = 1011;
constexpr int IDC_BAR = 1010;
constexpr int IDC_PAUSE = 1020;
constexpr int IDC_STOP = 2;

// The worker's reports, each a blocking call into the dialogs on the UI thread.
void SetStatusText(void*, const char* text) {
    CallOnUiThread([text] { SetDlgItemTextA(appState.progressWindow, IDC_STATUS, text); });
}
void SetProgressBar(void*, int percent) {
    CallOnUiThread([percent] { SetProgressPos(appState.progressWindow, IDC_BAR, percent); });
}
void SetMainTitle(void*, const char* title) {
    CallOnUiThread([title] { SetWindowTextA(appState.mainWindow, title); });
}
void GetMainTitle(void*, char* title, int size) {
    CallOnUiThread([title, size] { GetWindowTextA(appState.mainWindow, title, size); });
}
void FlashMainWindow(void*) {
    CallOnUiThread([] {
        if (IsIconic(appState.mainWindow)) FlashWindow(appState.mainWindow, true);
    });
}
void EndProgress(void*) {
    CallOnUiThread([] { EndDialog(appState.progressWindow, 0); });
}

// The worker's level, as it is or, while it sleeps paused, as it will be.
int WorkerPriority(const RunSession& session) {
    return session.control.paused ? session.control.resumePriority.load() : GetThreadPriority(session.worker.threadId);
}
void SetWorkerPriority(RunSession& session, int priority) {
    session.control.resumePriority = priority;
    if (!session.control.paused) SetThreadPriority(session.worker.threadId, priority);
}

bool Initialise(HWND dialog) {
    RunSession& session = appState.session;
    appState.progressWindow = dialog;
    session.control.stopRequested = 0;
    session.control.pauseRequested = 0;
    SetProgressRange(dialog, IDC_BAR, 0, 100);
    SetProgressPos(dialog, IDC_BAR, 0);
    if (!session.media.source.isOpen) {
        RunResult opened = OpenSource(session.media, session.settings.sourcePath);
        if (opened != sourceOpened) {
            ShowMessage(AppUser(), dialog, IDS_CAPTION, ResultMessageId(opened), MB_ICONERROR);
            EndDialog(dialog, 0);
            return true;
        }
    }
    if (StartConversion(session, appState.frontEnd, dialog) != conversionDone)
        EndDialog(dialog, 0);  // its message is shown; no worker runs
    return true;
}

}  // namespace

FrontEnd GuiFrontEnd() {
    FrontEnd frontEnd;
    frontEnd.setStatusText = SetStatusText;
    frontEnd.setProgressBar = SetProgressBar;
    frontEnd.getMainTitle = GetMainTitle;
    frontEnd.setMainTitle = SetMainTitle;
    frontEnd.messageBox = PresentWithQt;
    frontEnd.chooseCompressOptions = PresentOptionsDialog;
    frontEnd.flashMainWindow = FlashMainWindow;
    frontEnd.endProgress = EndProgress;
    return frontEnd;
}

bool ProgressDialogProc(HWND dialog, const DialogEvent& event, void*) {
    RunSession& session = appState.session;
    switch (event.kind) {
        case DialogEventKind::Init: return Initialise(dialog);
        case DialogEventKind::Minimise:
            appState.savedWorkerPriority = WorkerPriority(session);
            // The codecs' own threads too: they don't follow the worker.
            if (appState.loweredThreads.empty())
                appState.loweredThreads = LowerOtherThreads(THREAD_PRIORITY_BELOW_NORMAL);
            SetWorkerPriority(session, THREAD_PRIORITY_BELOW_NORMAL);
            ShowWindow(appState.mainWindow, SW_MINIMIZE);
            return true;
        case DialogEventKind::Activate:
            // Brought back from the taskbar: the window manager activates this
            // modal dialog, not the main window behind it, so the run is
            // raised here as well.
            if (event.minimised) RestoreWorkerPriority();
            return true;
        case DialogEventKind::Close:
            if (!WaitForWorkerFor(session.worker, 50)) {
                session.control.stopRequested = 1;
                // Keeps serving the worker's calls: its result message and the end of this dialog.
                WaitForConversion(session, ServeUiCalls);
            }
            return true;
        case DialogEventKind::Command:
            if (event.control == IDC_STOP && event.notification == BN_CLICKED)
                PostClose(dialog);
            else if (event.control == IDC_PAUSE && event.notification == BN_CLICKED)
                session.control.pauseRequested = IsDlgButtonChecked(dialog, IDC_PAUSE) ? 1 : 0;
            return true;
        default: return false;
    }
}

void RunProgressDialog(HWND mainDialog) {
    DialogBoxParamA(appState.instance, IDD_PROGRESS, mainDialog, ProgressDialogProc, nullptr);
    // The worker ended the dialog as its last call; let it finish.
    WaitForConversion(appState.session, ServeUiCalls);
    appState.progressWindow = nullptr;
    // A run that ended while minimised leaves nothing lowered behind it.
    RestoreWorkerPriority();
}

void RestoreWorkerPriority() {
    const WorkerHandle& worker = appState.session.worker;
    // Every thread lowered with the worker, whether the run has ended or not.
    if (!appState.loweredThreads.empty()) {
        RaiseThreads(appState.loweredThreads, THREAD_PRIORITY_BELOW_NORMAL, appState.savedWorkerPriority);
        appState.loweredThreads.clear();
    }
    if (worker.threadId != 0 && !worker.finished) SetWorkerPriority(appState.session, appState.savedWorkerPriority);
}
