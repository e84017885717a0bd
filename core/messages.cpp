#include "core/messages.h"

#include <cstring>

#include "platform/module.h"

int ShowMessage(const UserCalls& user, HWND owner, MessageId captionId, MessageId textId, UINT style) {
    // Buffers of the call's own: the worker and the UI thread may both be here.
    char caption[captionChars];
    char text[messageChars];
    LoadStringA(GetModuleHandleA(nullptr), captionId, caption, captionChars);
    LoadStringA(GetModuleHandleA(nullptr), textId, text, messageChars);
    return ShowMessageBox(user, owner, text, caption, style | MB_TASKMODAL);
}

const char* FileNamePart(const char* path) {
    if (!path) return "";
    if (const char* backslash = std::strrchr(path, '\\')) return backslash + 1;
    if (const char* slash = std::strrchr(path, '/')) return slash + 1;
    return path;
}

void FormatFileMessage(MessageId textId, const char* path, char* buffer, int bufferSize) {
    if (!buffer || bufferSize <= 0) return;
    char format[messageChars];
    LoadStringA(GetModuleHandleA(nullptr), textId, format, messageChars);
    const char* name = FileNamePart(path);
    // The text is substituted by hand rather than given to printf as a format,
    // so no text of the table can make it read arguments that aren't there.
    int used = 0;
    auto put = [&](char c) {
        if (used < bufferSize - 1) buffer[used++] = c;
    };
    bool named = false;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && !named) {
            for (const char* n = name; *n; ++n) put(*n);
            named = true;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            put('%');
            ++p;
        } else {
            put(*p);
        }
    }
    buffer[used] = '\0';
}

int ShowFileMessage(const UserCalls& user, HWND owner, MessageId captionId, MessageId textId, const char* path,
                    UINT style) {
    char caption[captionChars];
    char text[messageChars];
    LoadStringA(GetModuleHandleA(nullptr), captionId, caption, captionChars);
    FormatFileMessage(textId, path, text, messageChars);
    return ShowMessageBox(user, owner, text, caption, style | MB_TASKMODAL);
}
