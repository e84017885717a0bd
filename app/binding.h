#pragma once
// The main dialog's fields bound to the settings: every change is read into
// appState.settings and the controls are rewritten from it.

#include <string>

#include "core/settings.h"
#include "platform/wintypes.h"

// Control ids of the main dialog.
enum MainDialogControl {
    IDC_SOURCE_PATH = 1001,
    IDC_SOURCE_BROWSE = 1002,
    IDC_DESTINATION_PATH = 1003,
    IDC_DESTINATION_BROWSE = 1004,
    IDC_RATE = 1005,
    IDC_RANGE = 1006,
    IDC_RATE_SPIN = 1007,
    IDC_RANGE_SPIN = 1008,
    IDC_VIDEO_INFO = 1009,
    IDC_AUDIO_INFO = 1010,
    IDC_HEIGHT = 1011,
    IDC_ABOUT = 1012,
    IDC_SEGMENT = 1013,
    IDC_METHOD = 1014,
    IDC_ASPECT = 1015,
    IDC_DEINTERLACE = 1016,
    IDC_RESAMPLE = 1017,
    IDC_SPEED = 1018,
    IDC_SPEED_SPIN = 1019,
    IDC_HEIGHT_SPIN = 1020,
    IDC_LETTERBOX_IMAGE = 1021,
    IDC_LETTERBOX_FRAME = 1022,
    IDC_DUPLICATES = 1023,
    IDC_THRESHOLD = 1024,
    IDC_THRESHOLD_SPIN = 1025,
    IDC_GO = 1,
    IDC_CLOSE = 2,
    IDC_HELP_BUTTON = 4,
};

// Controls to settings. changedControl: 0, IDC_RATE, IDC_SPEED or a check box
// just clicked; caret: the caret while the user types, -1 for a final read
// (which clamps the rate and speed). Returns -1 when the typed number is
// unfinished (nothing after it was read), else the caret, moved past removed
// characters.
int ReadMainDialog(HWND dialog, int changedControl, int caret);
// Settings to controls; full also rewrites the source information panel.
void RefreshMainDialog(HWND dialog, bool full);
void RefreshSourceInfo(HWND dialog);
// Cleans a typed number in place: only digits and one decimal point (a comma
// becomes one). Returns the caret moved back by the removed characters before
// it, or -1 while the number is unfinished (nothing left, ends with the
// point, or its decimals start with 0).
int CleanNumberText(char* text, int caret);
// "%.3f" without trailing zeros and point: 25.0 -> "25", 12.3456 -> "12.346".
std::string FormatDecimal(double value);
// A hand-edited store can hold list values outside their lists, or rates that
// are no numbers; those fields take their defaults, as a missing value would.
// Returns how many fields it replaced.
int GuardLoadedSettings(ConversionSettings& settings);
