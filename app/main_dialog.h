#pragma once
// The main dialog (template 101): the program's only main window.

#include <string>

#include "platform/ui/window.h"

inline constexpr int IDD_MAIN = 101;
inline constexpr int IDD_PROGRESS = 104;
inline constexpr int IDD_ABOUT = 108;

bool MainDialogProc(HWND dialog, const DialogEvent& event, void* param);

// Admits and opens path as the source, as the source "&Browse..." button does
// once a file is chosen: its messages, the proposed destination, the panel.
void OpenChosenSource(HWND dialog, const char* path);

// The destination proposed for a source: the source cut before the last "."
// of its file name, then "_proc.avi". Empty when it would exceed the path limit.
std::string ProposedDestination(const char* sourcePath);

// The user guide: Guide\index.htm below the program directory when it is there,
// else the installed one in ../share/tavrick/Guide/ beside it; the first when
// neither is.
std::string UserGuidePath(const char* programDirectory);
// The user guide, handed to the desktop.
void OpenUserGuide(HWND dialog);
