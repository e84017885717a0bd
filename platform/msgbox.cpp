#include "platform/msgbox.h"

namespace {

// The answer of a box that can't ask anyone.
int Answer(UINT style, int questionAnswer) {
    UINT buttons = style & MB_TYPEMASK;
    if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) return questionAnswer == IDYES ? IDYES : IDNO;
    return IDOK;
}

}  // namespace

int PresentOnConsole(void* context, HWND, const char* text, const char* caption, UINT style) {
    const ConsoleMessageBox* console = static_cast<const ConsoleMessageBox*>(context);
    std::FILE* stream = console && console->stream ? console->stream : stderr;
    std::fprintf(stream, "%s: %s\n", caption, text);
    std::fflush(stream);
    return Answer(style, console ? console->questionAnswer : IDNO);
}

int PresentToRecorder(void* context, HWND owner, const char* text, const char* caption, UINT style) {
    MessageBoxRecorder* recorder = static_cast<MessageBoxRecorder*>(context);
    std::lock_guard<std::mutex> hold(recorder->lock);
    recorder->boxes.push_back({owner, caption, text, style});
    return Answer(style, recorder->questionAnswer);
}
