#pragma once
// Message boxes: their styles, answers and two presenters. Which presenter
// shows a box is the front end's choice (core/user_calls.h): the GUI a dialog,
// the command line and tests their own; without one, the console presenter.

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wintypes.h"

inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_TYPEMASK = 0xF;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr UINT MB_ICONMASK = 0xF0;
inline constexpr UINT MB_TASKMODAL = 0x2000;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows one box and returns the button pressed.
using MessageBoxPresenter = int (*)(void* context, HWND owner, const char* text, const char* caption, UINT style);

// Prints "<caption>: <text>" as one line to stream (standard error when null)
// and answers without asking: questions with questionAnswer, other boxes with
// their first button.
struct ConsoleMessageBox {
    std::FILE* stream;
    int questionAnswer;
};
int PresentOnConsole(void* consoleMessageBox, HWND owner, const char* text, const char* caption, UINT style);

// Keeps every box it is shown and answers questions with questionAnswer; for
// tests and for front ends that report messages their own way.
struct RecordedMessageBox {
    HWND owner;
    std::string caption;
    std::string text;
    UINT style;
};
struct MessageBoxRecorder {
    std::mutex lock;
    std::vector<RecordedMessageBox> boxes;
    int questionAnswer = IDNO;
};
int PresentToRecorder(void* messageBoxRecorder, HWND owner, const char* text, const char* caption, UINT style);
