#pragma once
// Dialogs built from the templates of the resource script, reached the way the
// product's dialog code expects: a plain dialog procedure receives the events,
// controls are reached by their ids. An HWND here is the QWidget of a dialog or
// of one of its controls. UI thread only; the worker reaches these through the
// blocking calls of platform/ui/ui_thread.h.

#include "platform/module.h"
#include "platform/wintypes.h"
#include "resources/dialog.h"

#include <cstdint>

// Notification codes of a command.
inline constexpr int BN_CLICKED = 0;
inline constexpr int CBN_SELENDOK = 9;  // a drop-down list's selection ended with OK, not a mere highlight
inline constexpr int EN_KILLFOCUS = 0x0200;
inline constexpr int EN_UPDATE = 0x0400;  // an edit's text changed and is about to be shown

enum class DialogEventKind {
    Init,      // the controls exist, the dialog isn't shown yet
    Command,   // control, notification
    VScroll,   // an up-down moved: control, position
    Activate,  // byMouseClick, minimised
    Close,     // close box, Alt+F4, PostClose; unhandled it becomes the command of id 2
    Minimise,
    Help,   // F1
    Timer,  // control is the timer's id
    // A mouse button went down or up, or the pointer moved, over the dialog or
    // a control that leaves the mouse to it (statics, pictures); x, y: the
    // pointer on the screen, button: 1 left, 2 right, 3 middle.
    MouseDown,
    MouseMove,
    MouseUp,
};

struct DialogEvent {
    DialogEventKind kind;
    int control = 0;
    int notification = 0;
    int position = 0;
    // EN_UPDATE: the edit's selection; its end is the caret.
    int selectionStart = 0;
    int selectionEnd = 0;
    bool byMouseClick = false;
    bool minimised = false;
    int x = 0;
    int y = 0;
    int button = 0;
};

// Returns true when it handled the event.
using DialogProc = bool (*)(HWND dialog, const DialogEvent& event, void* param);

// Runs template templateId of module modally over owner (nullptr: none) and
// returns the code passed to EndDialog; -1 when there is no such template.
// Enter gives the command of the focused push button or else of the default
// push button, Escape the command of id 2, F1 the Help event.
int DialogBoxParamA(HINSTANCE module, int templateId, HWND owner, DialogProc proc, void* param);
// The same dialog, shown without a modal loop (tests, screenshots); nullptr
// when there is no such template or Init ended it already.
HWND CreateDialogParamA(HINSTANCE module, int templateId, HWND owner, DialogProc proc, void* param);
void DestroyWindow(HWND window);
// Ends a dialog with result; during Init the dialog never shows.
bool EndDialog(HWND dialog, int result);
void* GetDialogParam(HWND dialog);
const DialogResource* FindDialogResource(HINSTANCE module, int templateId);

// Controls by id. GetDlgItem gives nullptr for an id the dialog lacks; the
// other calls then do nothing and read as empty, unchecked, -1 or 0.
HWND GetDlgItem(HWND dialog, int id);
// The controls in template order, those without an id included.
int GetDlgItemCount(HWND dialog);
HWND GetDlgItemAt(HWND dialog, int index);
int GetDlgCtrlID(HWND control);
DialogControlKind GetDlgItemKind(HWND dialog, int id);
bool SetDlgItemTextA(HWND dialog, int id, const char* text);
// At most size - 1 characters and a terminator; returns the characters copied.
int GetDlgItemTextA(HWND dialog, int id, char* buffer, int size);
void CheckDlgButton(HWND dialog, int id, bool checked);
bool IsDlgButtonChecked(HWND dialog, int id);
void EnableDlgItem(HWND dialog, int id, bool enable);
bool IsDlgItemEnabled(HWND dialog, int id);
void ShowDlgItem(HWND dialog, int id, bool show);
// Whether the control is meant to be shown (as the template or ShowDlgItem left it).
bool IsDlgItemShown(HWND dialog, int id);

// Drop-down lists. A selection outside the list selects nothing.
int AddListItem(HWND dialog, int id, const char* text);
void ResetList(HWND dialog, int id);
int GetListCount(HWND dialog, int id);
void SetListSelection(HWND dialog, int id, int index);
int GetListSelection(HWND dialog, int id);  // -1: nothing selected

// Up-down controls. The position stays within the range. With UDS_SETBUDDYINT
// every change writes the buddy, a step by the user and SetSpinPos alike;
// SetSpinPos writes the number given, even one the range clamps.
void SetSpinRange(HWND dialog, int id, int low, int high);
void GetSpinRange(HWND dialog, int id, int* low, int* high);
void SetSpinPos(HWND dialog, int id, int position);
int GetSpinPos(HWND dialog, int id);
HWND GetSpinBuddy(HWND dialog, int id);

// Progress bars.
void SetProgressRange(HWND dialog, int id, int low, int high);
void SetProgressPos(HWND dialog, int id, int position);
int GetProgressPos(HWND dialog, int id);

// Edit caret and selection, in characters; end is the caret.
void GetEditSelection(HWND dialog, int id, int* start, int* end);
void SetEditSelection(HWND dialog, int id, int start, int end);

// A picture control's image: a bottom-up device-independent bitmap of 24 or 8
// bits per pixel (8: a grey ramp), rows padded to 4 bytes; nullptr clears it.
void SetDlgItemBitmap(HWND dialog, int id, int width, int height, int bitsPerPixel, const void* pixels);

// Posted to the dialog: handled after the current event, like a posted message.
void PostCommand(HWND dialog, int id, int notification = BN_CLICKED);
void PostClose(HWND dialog);

// Windows: title, minimise and restore, the foreground window, flashing.
bool SetWindowTextA(HWND window, const char* text);
int GetWindowTextA(HWND window, char* buffer, int size);
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_RESTORE = 9;
void ShowWindow(HWND window, int command);
bool IsIconic(HWND window);
HWND GetForegroundWindow();
// Draws the user's attention to a window that is not active (the taskbar entry).
void FlashWindow(HWND window, bool invert);

// Cursors over a window.
inline constexpr int IDC_ARROW = 32512;
inline constexpr int IDC_WAIT = 32514;
inline constexpr int IDC_HAND = 32649;
void SetWindowCursor(HWND window, int cursorId);
// A cursor of the program's own: CURSOR resource id, a PNG whose hot spot is
// at (10, 1) (a pointing fingertip). nullptr when the module lacks it; kept
// until the process ends.
struct CursorHandle;
using HCURSOR = CursorHandle*;
HCURSOR LoadCursorA(HINSTANCE module, int id);
// The cursor over window and the controls that don't set their own; a null
// cursor gives the arrow.
void SetWindowCursorHandle(HWND window, HCURSOR cursor);

// The program icon: ICON resource id; every window of the program shows it
// (the dialogs share one class). False when the module lacks it.
bool SetProgramIcon(HINSTANCE module, int id);

// The pointer's position on the screen.
void GetCursorPos(int* x, int* y);

// Fonts. LOGFONTA holds what the product reads and changes of a font.
struct LOGFONTA {
    int lfHeight = 0;  // pixels; negative: the characters' height, as the desktop's fonts give it
    int lfWeight = 400;
    bool lfItalic = false;
    bool lfUnderline = false;
    char lfFaceName[32] = {};
};
struct FontHandle;
using HFONT = FontHandle*;
// The desktop's default GUI font (the stock DEFAULT_GUI_FONT).
void GetDefaultGuiFont(LOGFONTA* font);
HFONT CreateFontIndirectA(const LOGFONTA* font);
void SetDlgItemFont(HWND dialog, int id, HFONT font);

// Colours: a COLORREF holds red in the low byte, then green, then blue.
using COLORREF = std::uint32_t;
constexpr COLORREF RGB(int red, int green, int blue) {
    return static_cast<COLORREF>(red & 0xFF) | static_cast<COLORREF>(green & 0xFF) << 8 |
           static_cast<COLORREF>(blue & 0xFF) << 16;
}
inline constexpr int COLOR_BTNFACE = 15;
COLORREF GetSysColor(int index);
// A static's text and background, or a rich-text panel's; what a control
// shows as painted from then on.
void SetDlgItemColors(HWND dialog, int id, COLORREF text, COLORREF background);
void SetControlColors(HWND control, COLORREF text, COLORREF background);
// A rich-text panel's document, as HTML.
void SetDlgItemRichText(HWND dialog, int id, const char* html);

// A timer of the dialog: every `milliseconds` the Timer event with its id.
void SetDialogTimer(HWND dialog, int timerId, int milliseconds);
void KillDialogTimer(HWND dialog, int timerId);

// Dialog units of a dialog: its font's average character width (over the 52
// letters) and its character height. A rectangle of x, y, width, height dialog
// units covers x * baseX / 4 ... pixels, rounded to nearest.
struct DialogBaseUnits {
    int baseX;
    int baseY;
};
DialogBaseUnits GetDialogBaseUnits(HWND dialog);
struct PixelRect {
    int x, y, width, height;
};
PixelRect MapDialogRect(DialogBaseUnits units, int x, int y, int width, int height);

// A window's rectangle on the screen, and moving a top-level window there.
PixelRect GetWindowRect(HWND window);
void MoveWindow(HWND window, int x, int y, int width, int height);
