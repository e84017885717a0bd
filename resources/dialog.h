#pragma once
// Dialog templates as data: the records the resource compiler emits for every
// DIALOGEX block of the script, the window style bits they carry (the
// platform's values, so the script reads like any resource script), and the
// control kinds a template may use. No Qt and nothing of the platform layer:
// the build tool includes this too.

#include <cstddef>
#include <cstdint>

// Window styles.
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_CHILD = 0x40000000;
inline constexpr std::uint32_t WS_MINIMIZE = 0x20000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;
inline constexpr std::uint32_t WS_DISABLED = 0x08000000;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000;
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_DLGFRAME = 0x00400000;
inline constexpr std::uint32_t WS_VSCROLL = 0x00200000;
inline constexpr std::uint32_t WS_HSCROLL = 0x00100000;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000;
inline constexpr std::uint32_t WS_THICKFRAME = 0x00040000;
inline constexpr std::uint32_t WS_GROUP = 0x00020000;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000;
inline constexpr std::uint32_t WS_MINIMIZEBOX = 0x00020000;
inline constexpr std::uint32_t WS_MAXIMIZEBOX = 0x00010000;

// Dialog styles.
inline constexpr std::uint32_t DS_3DLOOK = 0x0004;
inline constexpr std::uint32_t DS_FIXEDSYS = 0x0008;
inline constexpr std::uint32_t DS_SETFONT = 0x0040;
inline constexpr std::uint32_t DS_MODALFRAME = 0x0080;
inline constexpr std::uint32_t DS_CENTER = 0x0800;
inline constexpr std::uint32_t DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS;

// Static controls. The low five bits are the type, not flags.
inline constexpr std::uint32_t SS_LEFT = 0x00;
inline constexpr std::uint32_t SS_CENTER = 0x01;
inline constexpr std::uint32_t SS_RIGHT = 0x02;
inline constexpr std::uint32_t SS_BITMAP = 0x0E;
inline constexpr std::uint32_t SS_LEFTNOWORDWRAP = 0x0C;
inline constexpr std::uint32_t SS_TYPEMASK = 0x1F;
inline constexpr std::uint32_t SS_NOPREFIX = 0x0080;
inline constexpr std::uint32_t SS_NOTIFY = 0x0100;
inline constexpr std::uint32_t SS_CENTERIMAGE = 0x0200;
inline constexpr std::uint32_t SS_REALSIZEIMAGE = 0x0800;
inline constexpr std::uint32_t SS_SUNKEN = 0x1000;

// Edit controls.
inline constexpr std::uint32_t ES_LEFT = 0x0000;
inline constexpr std::uint32_t ES_MULTILINE = 0x0004;
inline constexpr std::uint32_t ES_AUTOVSCROLL = 0x0040;
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x0080;
inline constexpr std::uint32_t ES_READONLY = 0x0800;
inline constexpr std::uint32_t ES_WANTRETURN = 0x1000;
inline constexpr std::uint32_t ES_NUMBER = 0x2000;

// Buttons. The low four bits are the type.
inline constexpr std::uint32_t BS_PUSHBUTTON = 0x0;
inline constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x1;
inline constexpr std::uint32_t BS_CHECKBOX = 0x2;
inline constexpr std::uint32_t BS_AUTOCHECKBOX = 0x3;
inline constexpr std::uint32_t BS_GROUPBOX = 0x7;
inline constexpr std::uint32_t BS_TYPEMASK = 0xF;
inline constexpr std::uint32_t BS_PUSHLIKE = 0x1000;
inline constexpr std::uint32_t BS_MULTILINE = 0x2000;

// Combo boxes. The low two bits are the type.
inline constexpr std::uint32_t CBS_SIMPLE = 0x1;
inline constexpr std::uint32_t CBS_DROPDOWN = 0x2;
inline constexpr std::uint32_t CBS_DROPDOWNLIST = 0x3;
inline constexpr std::uint32_t CBS_TYPEMASK = 0x3;
inline constexpr std::uint32_t CBS_SORT = 0x0100;
inline constexpr std::uint32_t CBS_HASSTRINGS = 0x0200;

// Up-down controls.
inline constexpr std::uint32_t UDS_WRAP = 0x0001;
inline constexpr std::uint32_t UDS_SETBUDDYINT = 0x0002;
inline constexpr std::uint32_t UDS_ALIGNRIGHT = 0x0004;
inline constexpr std::uint32_t UDS_ALIGNLEFT = 0x0008;
inline constexpr std::uint32_t UDS_AUTOBUDDY = 0x0010;
inline constexpr std::uint32_t UDS_ARROWKEYS = 0x0020;
inline constexpr std::uint32_t UDS_HORZ = 0x0040;
inline constexpr std::uint32_t UDS_NOTHOUSANDS = 0x0080;

// Progress bars.
inline constexpr std::uint32_t PBS_SMOOTH = 0x01;

// Control classes a template may name.
inline constexpr const char* WC_BUTTON = "Button";
inline constexpr const char* WC_EDIT = "Edit";
inline constexpr const char* WC_STATIC = "Static";
inline constexpr const char* WC_COMBOBOX = "ComboBox";
inline constexpr const char* UPDOWN_CLASS = "msctls_updown32";
inline constexpr const char* PROGRESS_CLASS = "msctls_progress32";
inline constexpr const char* RICHEDIT_CLASS = "RICHEDIT";

// Dialog ids of the platform's standard buttons; -1 is a control nobody addresses.
inline constexpr int IDC_STATIC = -1;

struct DialogControlResource {
    std::int32_t id;
    const char* className;  // one of the classes above
    const char* text;
    std::uint32_t style;
    std::uint32_t exStyle;
    std::int16_t x, y, width, height;  // dialog units; a drop-down list's height is that of its open list
};

struct DialogResource {
    std::uint16_t id;
    const char* caption;
    std::uint32_t style;
    std::uint32_t exStyle;
    std::int16_t x, y, width, height;  // dialog units; width and height are the client area's
    const char* fontName;
    std::uint16_t fontPointSize;
    const DialogControlResource* controls;  // in template (tab and stacking) order
    std::size_t controlCount;
};

// What a control of a template is, from its class and style. The window layer
// builds one kind of widget for each; the build refuses any other combination.
enum class DialogControlKind {
    Invalid,
    Static,   // text: left, right or centred by SS_TYPEMASK
    Picture,  // SS_BITMAP
    GroupBox,
    Edit,
    PushButton,
    DefaultPushButton,
    CheckBox,  // auto check box; push-like with BS_PUSHLIKE
    DropDownList,
    UpDown,
    ProgressBar,
    RichEdit,
};

DialogControlKind ClassifyDialogControl(const char* className, std::uint32_t style);
const char* DialogControlKindName(DialogControlKind kind);
