#pragma once
// The platform's common dialogs over Qt: message boxes (a presenter for the
// front-end record), open and save file dialogs, and "open" with the desktop's
// default handler. File dialogs and the shell have replaceable presenters,
// as message boxes do, so tests can answer them.

#include "platform/msgbox.h"
#include "platform/wintypes.h"

// A MessageBoxPresenter: a Qt message box with the caption, icon and buttons
// of the style bits, owned by owner, modal for the whole program (task-modal).
// Called from any thread: off the UI thread it blocks in a call to the UI
// thread. The context is unused.
int PresentWithQt(void* context, HWND owner, const char* text, const char* caption, UINT style);

inline constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
inline constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
inline constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
inline constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
inline constexpr DWORD OFN_EXPLORER = 0x00080000;
inline constexpr DWORD OFN_ENABLESIZING = 0x00800000;

// The fields of the platform's file dialog record that the product uses.
struct OPENFILENAMEA {
    HWND hwndOwner = nullptr;
    // Pairs of label and patterns ("*.avi;*.vdr"), each pair's texts terminated,
    // the list ending with an empty text.
    const char* lpstrFilter = nullptr;
    DWORD nFilterIndex = 1;     // 1: the first pair
    char* lpstrFile = nullptr;  // in: the initial name; out: the chosen path
    DWORD nMaxFile = 0;         // a chosen path must fit with its terminator
    // The folder to open in when lpstrFile names none; null or empty: the
    // folder of the last file chosen in a file dialog, as the desktop keeps it.
    const char* lpstrInitialDir = nullptr;
    const char* lpstrTitle = nullptr;
    DWORD Flags = 0;
    const char* lpstrDefExt = nullptr;  // appended to a name typed without extension; null: none
};

// Shows the dialog; false on Cancel, or when the chosen path doesn't fit lpstrFile.
// With OFN_PATHMUSTEXIST a path in a folder that doesn't exist is refused with
// a warning and the dialog stays open.
bool GetOpenFileNameA(OPENFILENAMEA* request);
bool GetSaveFileNameA(OPENFILENAMEA* request);

// Answers a file dialog: fills request->lpstrFile and returns true, or returns false.
using FileDialogPresenter = bool (*)(void* context, bool save, OPENFILENAMEA* request);
// nullptr restores the Qt dialogs.
void SetFileDialogPresenter(FileDialogPresenter presenter, void* context);
// The Qt file dialog (not the desktop's native one), with the filters, title and flags of the request.
bool PresentQtFileDialog(void* context, bool save, OPENFILENAMEA* request);

// "open" and other verbs: file is a path (either separator) or a URL with a scheme.
using ShellOpenHandler = bool (*)(void* context, const char* verb, const char* file, const char* parameters,
                                  const char* directory, int show);
// nullptr restores the desktop's default handler (QDesktopServices).
void SetShellOpenHandler(ShellOpenHandler handler, void* context);
bool OpenWithDesktop(void* context, const char* verb, const char* file, const char* parameters, const char* directory,
                     int show);
// Returns a value above 32 when the handler took the file, 2 when not.
long ShellExecuteA(HWND owner, const char* verb, const char* file, const char* parameters, const char* directory,
                   int show);
