#pragma once
// The about box (template 108): product and version, two links that follow the
// pointer, the about text and the side picture decoded from a JPEG 2000
// codestream in the program's resources. Dragged by any mouse button anywhere
// on its surface; it has no title bar.

#include <cstddef>
#include <string>

#include "media/vfw/vfw.h"
#include "platform/ui/window.h"

inline constexpr int IDC_ABOUT_TITLE = 1056;
inline constexpr int IDC_ABOUT_MAKER = 1057;
inline constexpr int IDC_WEB_LINK = 1013;
inline constexpr int IDC_MAIL_LINK = 1015;
inline constexpr int IDC_ABOUT_TEXT = 1001;
inline constexpr int IDC_SIDE_PICTURE = 1005;
inline constexpr int IDR_HAND_CURSOR = 101;
inline constexpr int IDR_PROGRAM_ICON = 102;
inline constexpr int IDR_SIDE_PICTURE = 107;
inline constexpr int IDR_ABOUT_TEXT = 110;
inline constexpr int aboutHoverTimer = 1;

// A device-independent bitmap: its header and pixel memory (rows bottom-up,
// each padded to 4 bytes).
struct DibSection {
    BITMAPINFOHEADER header;
    unsigned char* bits;
    std::size_t size;
};
using HBITMAP = DibSection*;
// nullptr when the memory can't be had.
HBITMAP CreateDIBSection(const BITMAPINFOHEADER& header);
void DeleteObject(HBITMAP bitmap);

// Decodes the "J2KIMG" resource resourceId of the program into a new bitmap in
// *bitmapSlot, deleting the one it held. 0 done; 1 no such resource; 2 it
// can't be locked; 3 it can't be loaded or is empty; 4 it doesn't decode; 5 a
// used component isn't 8-bit; 6 no bitmap. Three components give 24 bits per
// pixel in blue-green-red order, fewer give the first one as 8 bits.
int LoadResourceImage(HWND window, int resourceId, HBITMAP* bitmapSlot);

// The about box's label fonts (normal, underlined, bold 700) from the
// desktop's default GUI font, into appState; once at start-up.
void CreateLabelFonts();

struct AboutBoxState {
    bool webLinkHot = false;
    bool mailLinkHot = false;
    bool dragging = false;
    int dragAnchorX = 0;
    int dragAnchorY = 0;
    HBITMAP sidePicture = nullptr;
    std::string webLink;
    std::string mailLink;
};
extern AboutBoxState aboutBox;

// The hover step of the links for the pointer at x, y on the screen.
void UpdateLinkHover(HWND dialog, int x, int y);
bool AboutBoxProc(HWND dialog, const DialogEvent& event, void* param);
void ShowAboutBox(HWND owner);

// The address the support link opens.
inline constexpr char supportMailLink[] = "mailto:tavrick@example.org?subject=Tavrick%202.03c";
