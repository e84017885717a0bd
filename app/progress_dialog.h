#pragma once
// The progress dialog of a conversion (template 104) and its worker.

#include "platform/ui/window.h"

// Runs dialog 104 modally over the main dialog: the run starts in its
// initialisation and the worker ends it after reporting the result.
void RunProgressDialog(HWND mainDialog);
bool ProgressDialogProc(HWND dialog, const DialogEvent& event, void* param);

// The main window is back from the taskbar: the worker gets back the priority
// it had before the progress dialog was minimised.
void RestoreWorkerPriority();
