#pragma once
// How the layers below the job reach the user: message boxes (questions
// included) and the end of the process. The job's front-end record fills one
// (job/front_end.h); a member left null takes the console's way.

#include "platform/msgbox.h"
#include "platform/wintypes.h"

struct UserCalls {
    void* context = nullptr;
    // Shows one box and returns the button pressed. Null: printed as
    // "<caption>: <text>" on standard error, questions answered No.
    MessageBoxPresenter messageBox = nullptr;
    // Ends the process with exitCode. A front end may return instead (tests
    // do); callers then return at once. Null: the process exits.
    void (*endProcess)(void* context, int exitCode) = nullptr;
};

// The box through user.messageBox; null text or caption show as empty.
int ShowMessageBox(const UserCalls& user, HWND owner, const char* text, const char* caption, UINT style);

// Ends the process through user.endProcess. Returns only when that returns.
void EndProcess(const UserCalls& user, int exitCode);
