#include "core/user_calls.h"

#include <cstdlib>

int ShowMessageBox(const UserCalls& user, HWND owner, const char* text, const char* caption, UINT style) {
    text = text ? text : "";
    caption = caption ? caption : "";
    if (user.messageBox) return user.messageBox(user.context, owner, text, caption, style);
    return PresentOnConsole(nullptr, owner, text, caption, style);
}

void EndProcess(const UserCalls& user, int exitCode) {
    if (user.endProcess)
        user.endProcess(user.context, exitCode);
    else
        std::exit(exitCode);
}
