#include "app/progress_dialog.h"

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "app/messages.h"
#include "job/conversion.h"
#include "job/worker.h"
#include "media/source.h"
#include "platform/threads.h"
#include "platform/ui/ui_thread.h"

namespace {

constexpr int IDC_STATUS = 1011;
constexpr int IDC_BAR = 1010;
constexpr int IDC_PAUSE = 1020;
constexpr int IDC_STOP = 2;

JobControl control;
WorkerHandle worker;
ConversionJob job;
ConversionRun run;

// The worker's reports, each a blocking call into the dialogs on the UI thread.
void SetStatusText(void*, const char* text)
{
    CallOnUiThread([text] { SetDlgItemTextA(appState.progressWindow, IDC_STATUS, text); });
}
void SetProgressBar(void*, int percent)
{
    CallOnUiThread([percent] { SetProgressPos(appState.progressWindow, IDC_BAR, percent); });
}
void SetMainTitle(void*, const char* title)
{
    CallOnUiThread([title] { SetWindowTextA(appState.mainWindow, title); });
}
void GetMainTitle(void*, char* title, int size)
{
    CallOnUiThread([title, size] { GetWindowTextA(appState.mainWindow, title, size); });
}
void FlashMainWindow(void*)
{
    CallOnUiThread([] {
        if (IsIconic(appState.mainWindow))
            FlashWindow(appState.mainWindow, true);
    });
}
void EndProgress(void*)
{
    CallOnUiThread([] { EndDialog(appState.progressWindow, 0); });
}

bool Initialise(HWND dialog)
{
    appState.progressWindow = dialog;
    control.stopRequested = 0;
    control.pauseRequested = 0;
    SetProgressRange(dialog, IDC_BAR, 0, 100);
    SetProgressPos(dialog, IDC_BAR, 0);
    if (!appState.media.source.isOpen) {
        int opened = OpenSource(appState.media, appState.settings.sourcePath);
        if (opened != sourceOpened) {
            ShowMessage(dialog, IDS_CAPTION, static_cast<MessageId>(SourceOpenMessage(opened)), MB_ICONERROR);
            EndDialog(dialog, 0);
            return true;
        }
    }
    run.settings = &appState.settings;
    run.media = &appState.media;
    run.job = &job;
    run.tables = &appState.tables;
    run.control = &control;
    run.owner = dialog;
    run.progress = ProgressTarget{};
    run.progress.setStatusText = SetStatusText;
    run.progress.setProgressBar = SetProgressBar;
    run.progress.setMainTitle = SetMainTitle;
    run.progress.getMainTitle = GetMainTitle;
    run.progress.flashMainWindow = FlashMainWindow;
    run.progress.endProgress = EndProgress;
    if (!StartWorker(worker, run)) {
        ShowMessage(dialog, IDS_CAPTION, IDS_MEMORY_PROBLEM, MB_ICONERROR);
        EndDialog(dialog, 0);
    }
    return true;
}

}  // namespace

bool ProgressDialogProc(HWND dialog, const DialogEvent& event, void*)
{
    switch (event.kind) {
    case DialogEventKind::Init: return Initialise(dialog);
    case DialogEventKind::Minimise:
        appState.savedWorkerPriority = GetThreadPriority(worker.threadId);
        SetThreadPriority(worker.threadId, THREAD_PRIORITY_BELOW_NORMAL);
        ShowWindow(appState.mainWindow, SW_MINIMIZE);
        return true;
    case DialogEventKind::Close:
        if (!WaitForWorkerFor(worker, 50)) {
            control.stopRequested = 1;
            // Keeps serving the worker's calls: its result message and the end of this dialog.
            WaitForWorker(worker, ServeUiCalls);
        }
        return true;
    case DialogEventKind::Command:
        if (event.control == IDC_STOP && event.notification == BN_CLICKED)
            PostClose(dialog);
        else if (event.control == IDC_PAUSE && event.notification == BN_CLICKED)
            control.pauseRequested = IsDlgButtonChecked(dialog, IDC_PAUSE) ? 1 : 0;
        return true;
    default: return false;
    }
}

void RunProgressDialog(HWND mainDialog)
{
    DialogBoxParamA(appState.instance, IDD_PROGRESS, mainDialog, ProgressDialogProc, nullptr);
    // The worker ended the dialog as its last call; let it finish.
    WaitForWorker(worker, ServeUiCalls);
    appState.progressWindow = nullptr;
}

void RestoreWorkerPriority()
{
    if (worker.threadId != 0 && !worker.finished)
        SetThreadPriority(worker.threadId, appState.savedWorkerPriority);
}
