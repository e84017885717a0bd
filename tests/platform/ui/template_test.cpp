// The dialog templates as the product lays them out, and the widgets built
// from them: every control with its id, kind, text and flags, placed at its
// dialog-unit rectangle converted with the dialog font's metrics. The
// resource compiler refuses malformed templates with the line at fault.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

#include <gtest/gtest.h>

#include "platform/module.h"
#include "platform/ui/window.h"

namespace {

using K = DialogControlKind;

struct Expected {
    int id;
    K kind;
    int x, y, width, height;
    const char* text;
    std::uint32_t flags;  // style bits the control must carry
    bool hidden = false;
};

constexpr std::uint32_t spin = UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS | UDS_NOTHOUSANDS;
constexpr std::uint32_t intSpin = spin | UDS_SETBUDDYINT;
constexpr std::uint32_t list = CBS_DROPDOWNLIST | WS_VSCROLL;

const std::vector<Expected> mainDialog = {
    {-1, K::GroupBox, 7, 7, 141, 61, "Video Info", 0},
    {1009, K::Static, 16, 19, 126, 40, "1\n2\n3\n4\n5", SS_LEFT},
    {-1, K::GroupBox, 153, 7, 141, 61, "Audio Info", 0},
    {1010, K::Static, 162, 19, 126, 40, "1\n2\n3\n4\n5", SS_LEFT},
    {-1, K::GroupBox, 7, 73, 287, 57, "Source", 0},
    {-1, K::Static, 13, 89, 41, 8, "Source file:", SS_RIGHT},
    {1001, K::Edit, 58, 87, 175, 14, "", ES_READONLY | ES_AUTOHSCROLL},
    {1002, K::PushButton, 236, 87, 50, 14, "&Browse...", 0},
    {-1, K::Static, 23, 110, 44, 8, "Speed (%):", SS_RIGHT},
    {1018, K::Edit, 70, 108, 41, 14, "", ES_AUTOHSCROLL},
    {1019, K::UpDown, 87, 112, 11, 14, "", spin},
    {-1, K::Static, 116, 110, 73, 8, "Deinterlace method:", SS_RIGHT},
    {1016, K::DropDownList, 194, 108, 84, 221, "", list},
    {-1, K::GroupBox, 7, 136, 287, 49, "Destination file", 0},
    {-1, K::Static, 13, 154, 41, 8, "Destination:", SS_RIGHT},
    {1003, K::Edit, 58, 150, 175, 14, "", ES_AUTOHSCROLL},
    {1004, K::PushButton, 236, 150, 50, 14, "B&rowse...", 0},
    {1013, K::CheckBox, 77, 170, 153, 10, "&Divide into 2 GB segments (recommended)", BS_AUTOCHECKBOX},
    {-1, K::GroupBox, 7, 191, 287, 73, "Destination frame", 0},
    {-1, K::Static, 17, 205, 56, 8, "Output aspect:", SS_RIGHT},
    {1015, K::DropDownList, 77, 203, 69, 193, "", list},
    {-1, K::Static, 18, 222, 55, 8, "Output height:", SS_RIGHT},
    {1011, K::Edit, 77, 220, 69, 14, "", ES_NUMBER | ES_AUTOHSCROLL},
    {1020, K::UpDown, 95, 224, 11, 14, "", intSpin},
    {1021, K::CheckBox, 157, 200, 132, 16, "&Frame size remains original but the image is resized inside the frame",
     BS_AUTOCHECKBOX | BS_MULTILINE},
    {1022, K::CheckBox, 157, 220, 125, 16, "Fr&ame is resized but the image size remains original inside the frame",
     BS_AUTOCHECKBOX | BS_MULTILINE},
    {-1, K::Static, 57, 245, 101, 8, "Interlace/resample method:", SS_CENTER},
    {1017, K::DropDownList, 155, 243, 84, 220, "", list},
    {-1, K::GroupBox, 7, 271, 287, 47, "Frame interpolation", 0},
    {-1, K::Static, 43, 283, 61, 8, "Frame rate (fps):", SS_CENTER},
    {1005, K::Edit, 53, 294, 41, 14, "", ES_AUTOHSCROLL},
    {1007, K::UpDown, 70, 297, 11, 14, "", spin},
    {-1, K::Static, 103, 283, 96, 8, "Interpolation method:", SS_CENTER},
    {1014, K::DropDownList, 108, 294, 84, 120, "", list},
    {-1, K::Static, 191, 283, 73, 8, "Interpolation range:", SS_CENTER},
    {1006, K::Edit, 207, 294, 41, 14, "", ES_NUMBER | ES_AUTOHSCROLL},
    {1008, K::UpDown, 223, 297, 11, 14, "", intSpin},
    {1023, K::CheckBox, 53, 265, 107, 9, "&Interpolate duplicate frames", BS_AUTOCHECKBOX, true},
    {-1, K::Static, 161, 265, 42, 8, "Threshold:", SS_RIGHT, true},
    {1024, K::Edit, 207, 263, 41, 14, "", ES_NUMBER | ES_AUTOHSCROLL, true},
    {1025, K::UpDown, 223, 266, 11, 14, "", intSpin, true},
    {1012, K::PushButton, 7, 324, 50, 14, "Ab&out...", 0},
    {4, K::PushButton, 60, 324, 50, 14, "&Help...", 0},
    {1, K::DefaultPushButton, 191, 324, 50, 14, "&GO!", 0},
    {2, K::PushButton, 244, 324, 50, 14, "Close", 0},
};

const std::vector<Expected> progressDialog = {
    {1011, K::Static, 7, 7, 175, 8, "Please wait ...", SS_CENTER},
    {1010, K::ProgressBar, 7, 18, 175, 12, "", 0},
    {1020, K::CheckBox, 43, 37, 50, 14, "&Pause", BS_AUTOCHECKBOX | BS_PUSHLIKE},
    {2, K::DefaultPushButton, 96, 37, 50, 14, "&Stop", 0},
};

const std::vector<Expected> aboutBox = {
    {1, K::DefaultPushButton, 67, 153, 50, 14, "OK", 0},
    {1056, K::Static, 32, 7, 117, 8, "Tavrick 2.03c", SS_CENTER},
    {1057, K::Static, 45, 16, 90, 8, "by Norvane Software", SS_CENTER},
    {-1, K::Static, 26, 33, 39, 9, "Web-site:", SS_RIGHT},
    {1013, K::Static, 70, 33, 89, 9, nullptr, SS_LEFT},
    {-1, K::Static, 26, 44, 39, 9, "Support:", SS_RIGHT},
    {1015, K::Static, 70, 44, 87, 9, nullptr, SS_LEFT},
    {1001, K::RichEdit, 7, 65, 167, 80, "", ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL},
    {1005, K::Picture, 183, 7, 41, 161, "", SS_BITMAP | SS_SUNKEN | SS_CENTERIMAGE | SS_REALSIZEIMAGE},
};

struct DialogCase {
    int id;
    const char* caption;
    int width, height;
    std::uint32_t style;
    const std::vector<Expected>* controls;
};

const DialogCase dialogs[] = {
    {101, "Tavrick", 301, 345, DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, &mainDialog},
    {104, "Processing...", 189, 58, DS_CENTER | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
     &progressDialog},
    {108, "", 231, 174, DS_CENTER | DS_MODALFRAME | WS_POPUP, &aboutBox},
};

bool IsA(QWidget* widget, K kind) {
    switch (kind) {
        case K::Static:
        case K::Picture: return dynamic_cast<QLabel*>(widget);
        case K::GroupBox: return dynamic_cast<QGroupBox*>(widget);
        case K::Edit: return dynamic_cast<QLineEdit*>(widget);
        case K::PushButton:
        case K::DefaultPushButton: return dynamic_cast<QPushButton*>(widget);
        case K::CheckBox: return dynamic_cast<QCheckBox*>(widget) || dynamic_cast<QPushButton*>(widget);
        case K::DropDownList: return dynamic_cast<QComboBox*>(widget);
        case K::ProgressBar: return dynamic_cast<QProgressBar*>(widget);
        case K::RichEdit: return dynamic_cast<QTextEdit*>(widget);
        case K::UpDown: return widget != nullptr;
        case K::Invalid: break;
    }
    return false;
}

QRect Mapped(const QFont& font, const Expected& e) {
    // The dialog units of the font: average width of the 52 letters, and the height.
    QFontMetrics metrics(font);
    int baseX = (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    int baseY = metrics.height();
    auto round = [](int value, int base, int divisor) { return (value * base + divisor / 2) / divisor; };
    return QRect(round(e.x, baseX, 4), round(e.y, baseY, 8), round(e.width, baseX, 4), round(e.height, baseY, 8));
}

class DialogTemplates : public ::testing::TestWithParam<DialogCase> {};

TEST_P(DialogTemplates, ResourceHoldsEveryControlAsLaidOut) {
    const DialogCase& want = GetParam();
    const DialogResource* resource = FindDialogResource(GetModuleHandleA(nullptr), want.id);
    ASSERT_NE(resource, nullptr);
    EXPECT_STREQ(resource->caption, want.caption);
    EXPECT_EQ(resource->width, want.width);
    EXPECT_EQ(resource->height, want.height);
    EXPECT_EQ(resource->style & want.style, want.style);
    EXPECT_EQ(resource->style & WS_CAPTION, want.style & WS_CAPTION);
    EXPECT_STREQ(resource->fontName, "MS Shell Dlg");
    EXPECT_EQ(resource->fontPointSize, 8);
    ASSERT_EQ(resource->controlCount, want.controls->size());
    for (std::size_t i = 0; i < resource->controlCount; ++i) {
        const DialogControlResource& got = resource->controls[i];
        const Expected& e = (*want.controls)[i];
        SCOPED_TRACE("dialog " + std::to_string(want.id) + ", control " + std::to_string(i) + " id " +
                     std::to_string(e.id));
        EXPECT_EQ(got.id, e.id);
        EXPECT_EQ(ClassifyDialogControl(got.className, got.style), e.kind);
        EXPECT_EQ(got.x, e.x);
        EXPECT_EQ(got.y, e.y);
        EXPECT_EQ(got.width, e.width);
        EXPECT_EQ(got.height, e.height);
        if (e.text) {
            EXPECT_STREQ(got.text, e.text);
        }
        EXPECT_EQ(got.style & e.flags, e.flags);
        EXPECT_EQ(!(got.style & WS_VISIBLE), e.hidden);
        // Exact where a bit too many would change the control.
        std::uint32_t exact = e.kind == K::Static     ? SS_TYPEMASK
                              : e.kind == K::UpDown   ? UDS_SETBUDDYINT
                              : e.kind == K::CheckBox ? BS_PUSHLIKE | BS_MULTILINE
                              : e.kind == K::Edit     ? ES_READONLY | ES_NUMBER
                                                      : 0;
        EXPECT_EQ(got.style & exact, e.flags & exact);
    }
}

TEST_P(DialogTemplates, WidgetsSitAtTheirConvertedRectangles) {
    const DialogCase& want = GetParam();
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), want.id, nullptr, nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    auto* window = static_cast<QWidget*>(dialog);
    QFont font = window->font();
    EXPECT_EQ(font.pointSize(), 8);
    EXPECT_EQ(font.family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    EXPECT_EQ(window->windowTitle().toStdString(), want.caption);
    EXPECT_EQ(window->size(), Mapped(font, {0, K::Invalid, 0, 0, want.width, want.height, "", 0}).size());
    EXPECT_EQ(bool(window->windowFlags() & Qt::FramelessWindowHint), !(want.style & WS_CAPTION));

    ASSERT_EQ(GetDlgItemCount(dialog), static_cast<int>(want.controls->size()));
    for (int i = 0; i < GetDlgItemCount(dialog); ++i) {
        const Expected& e = (*want.controls)[i];
        SCOPED_TRACE("dialog " + std::to_string(want.id) + ", control " + std::to_string(i) + " id " +
                     std::to_string(e.id));
        auto* widget = static_cast<QWidget*>(GetDlgItemAt(dialog, i));
        ASSERT_TRUE(IsA(widget, e.kind));
        if (e.id != IDC_STATIC) {
            EXPECT_EQ(GetDlgItem(dialog, e.id), GetDlgItemAt(dialog, i));
            EXPECT_EQ(GetDlgCtrlID(widget), e.id);
            EXPECT_EQ(GetDlgItemKind(dialog, e.id), e.kind);
        }
        if (e.text) {
            char text[256];
            GetWindowTextA(widget, text, sizeof text);
            EXPECT_STREQ(text, e.text);
        }
        EXPECT_EQ(widget->isVisibleTo(window), !e.hidden);
        EXPECT_TRUE(widget->isEnabled());

        QRect rect = Mapped(font, e);
        if (e.kind == K::UpDown) {
            // Aligned right: the up-down takes the right end of its buddy, the edit before it.
            auto* buddy = static_cast<QWidget*>(GetDlgItemAt(dialog, i - 1));
            ASSERT_EQ(GetSpinBuddy(dialog, e.id), GetDlgItemAt(dialog, i - 1));
            QRect buddyWant = Mapped(font, (*GetParam().controls)[i - 1]);
            EXPECT_EQ(buddy->geometry(),
                      QRect(buddyWant.x(), buddyWant.y(), buddyWant.width() - rect.width(), buddyWant.height()));
            EXPECT_EQ(widget->geometry(),
                      QRect(buddyWant.right() + 1 - rect.width(), buddyWant.y(), rect.width(), buddyWant.height()));
        } else if (e.kind == K::DropDownList) {
            // The template height is the open list's; the closed box is one line.
            EXPECT_EQ(widget->geometry().topLeft(), rect.topLeft());
            EXPECT_EQ(widget->width(), rect.width());
            EXPECT_LT(widget->height(), rect.height());
            EXPECT_GT(static_cast<QComboBox*>(widget)->maxVisibleItems(), 1);
        } else if (i + 1 < GetDlgItemCount(dialog) && (*want.controls)[i + 1].kind == K::UpDown) {
            // checked with its up-down
        } else {
            EXPECT_EQ(widget->geometry(), rect);
        }

        switch (e.kind) {
            case K::Edit: {
                auto* edit = static_cast<QLineEdit*>(widget);
                EXPECT_EQ(edit->isReadOnly(), bool(e.flags & ES_READONLY));
                EXPECT_EQ(edit->validator() != nullptr, bool(e.flags & ES_NUMBER));
                break;
            }
            case K::CheckBox:
                EXPECT_EQ(dynamic_cast<QPushButton*>(widget) != nullptr, bool(e.flags & BS_PUSHLIKE));
                EXPECT_TRUE(static_cast<QAbstractButton*>(widget)->isCheckable());
                break;
            case K::PushButton:
            case K::DefaultPushButton:
                EXPECT_EQ(static_cast<QPushButton*>(widget)->isDefault(), e.kind == K::DefaultPushButton);
                break;
            case K::Static: {
                Qt::Alignment align = static_cast<QLabel*>(widget)->alignment() & Qt::AlignHorizontal_Mask;
                std::uint32_t type = e.flags & SS_TYPEMASK;
                EXPECT_EQ(align, type == SS_CENTER  ? Qt::AlignHCenter
                                 : type == SS_RIGHT ? Qt::AlignRight
                                                    : Qt::AlignLeft);
                break;
            }
            case K::RichEdit: EXPECT_TRUE(static_cast<QTextEdit*>(widget)->isReadOnly()); break;
            default: break;
        }
    }
    DestroyWindow(dialog);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DialogTemplates, ::testing::ValuesIn(dialogs),
                         [](const auto& info) { return "Dialog" + std::to_string(info.param.id); });

TEST(DialogUnits, ConvertWithRoundingToNearest) {
    // 7 x 13 pixel characters: 7/4 and 13/8 pixels per unit.
    DialogBaseUnits units{7, 13};
    PixelRect r = MapDialogRect(units, 7, 7, 301, 345);
    EXPECT_EQ(r.x, 12);        // 12.25
    EXPECT_EQ(r.y, 11);        // 11.375
    EXPECT_EQ(r.width, 527);   // 526.75
    EXPECT_EQ(r.height, 561);  // 560.625
    EXPECT_EQ(FindDialogResource(GetModuleHandleA(nullptr), 999), nullptr);
    EXPECT_EQ(CreateDialogParamA(GetModuleHandleA(nullptr), 999, nullptr, nullptr, nullptr), nullptr);
}

// The resource compiler on a script of its own: the output on success, the
// message on failure.
struct Compiled {
    int status;
    std::string output;
};

// beside: a file written next to the script, for the resources it embeds.
Compiled Compile(const std::string& script, const std::string& besideName = "", const std::string& besideBytes = "") {
    char dir[] = "/tmp/tavrick-rc-XXXXXX";
    if (!mkdtemp(dir)) return {-1, "mkdtemp"};
    std::string base = dir;
    std::ofstream(base + "/t.rc") << script;
    if (!besideName.empty()) std::ofstream(base + "/" + besideName, std::ios::binary) << besideBytes;
    std::string command = std::string(TAVRICK_RC) + " " + base + "/t.rc " + base + "/t.cpp m 2>" + base + "/err";
    int status = std::system(command.c_str());
    std::ifstream in(base + (status == 0 ? "/t.cpp" : "/err"));
    std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::system(("rm -rf " + base).c_str());
    return {status, output};
}

std::string Dialog(const std::string& body, const std::string& options = "FONT 8, \"MS Shell Dlg\"\n") {
    return "// a test\n5 DIALOGEX 0, 0, 100, 50\nSTYLE WS_POPUP | WS_CAPTION\n" + options + "BEGIN\n" + body + "END\n";
}

TEST(ResourceCompiler, BuildsTemplatesWithTheStatementsDefaults) {
    Compiled good =
        Compile(Dialog("    EDITTEXT 10, 1, 1, 40, 14, ES_NUMBER | NOT WS_VISIBLE\n"
                       "    CONTROL \"\", 11, \"msctls_updown32\", UDS_AUTOBUDDY | UDS_SETBUDDYINT, 1, 1, 8, 14\n"
                       "    LTEXT \"a \"\"b\"\"\", -1, 1, 20, 40, 8\n"));
    ASSERT_EQ(good.status, 0) << good.output;
    // EDITTEXT: child, tab stop and border by default, minus WS_VISIBLE.
    EXPECT_NE(good.output.find("{10, \"Edit\", \"\", 0x40812000u"), std::string::npos) << good.output;
    EXPECT_NE(good.output.find("{11, \"msctls_updown32\", \"\", 0x50000012u"), std::string::npos) << good.output;
    EXPECT_NE(good.output.find("{-1, \"Static\", \"a \\\"b\\\"\", 0x50020000u"), std::string::npos) << good.output;
}

TEST(ResourceCompiler, EmbedsFilesNamedBesideTheScript) {
    Compiled good = Compile("7 J2KIMG \"pic.bin\"\n2 CURSOR \"pic.bin\"\n", "pic.bin", std::string("\x01\xff", 2));
    ASSERT_EQ(good.status, 0) << good.output;
    // Sorted by type, then id; the bytes end in an extra terminator not counted.
    std::size_t cursor = good.output.find("{\"CURSOR\", 2, file0, 2}");
    std::size_t picture = good.output.find("{\"J2KIMG\", 7, file1, 2}");
    EXPECT_NE(cursor, std::string::npos) << good.output;
    EXPECT_NE(picture, std::string::npos) << good.output;
    EXPECT_NE(good.output.find("1,255,0};"), std::string::npos) << good.output;

    Compiled missing = Compile("// x\n7 J2KIMG \"absent.bin\"\n");
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.output.find(":2: cannot read"), std::string::npos) << missing.output;
    Compiled twice = Compile("7 ICON \"a\"\n7 ICON \"a\"\n", "a", "x");
    EXPECT_NE(twice.output.find(":2: ICON resource id defined twice"), std::string::npos) << twice.output;
}

TEST(ResourceCompiler, RefusesMalformedTemplatesWithTheLine) {
    struct Bad {
        std::string script;
        const char* message;
    };
    const Bad cases[] = {
        {Dialog("    EDITTEXT 10, 1, 1, 40, 14, ES_NUMBR\n"), ":6: unknown style 'ES_NUMBR'"},
        {Dialog("    EDITTEXT 10, 1, 1, 40, 14\n    PUSHBUTTON \"x\", 10, 1, 20, 40, 14\n"),
         ":7: control id 10 used twice"},
        {Dialog("    LTEXT \"x\", 1, 1, 1, 40, 8\n    CONTROL \"\", 11, \"msctls_updown32\", UDS_AUTOBUDDY, 1, 1, 8, "
                "14\n"),
         ":7: an up-down with UDS_AUTOBUDDY needs an edit"},
        {Dialog("    PUSHBUTTON \"x\", 3, 70, 1, 40, 14\n"), ":6: control lies outside its dialog"},
        {Dialog("    CONTROL \"\", 3, \"SysListView32\", 0, 1, 1, 40, 14\n"), ":6: no control of class"},
        {Dialog("    CONTROL \"\", 3, \"Button\", BS_CHECKBOX, 1, 1, 40, 14\n"), ":6: no control of class"},
        {Dialog("    LTEXT \"x\", 1, 1, 1, 40\n"), ":7: expected ','"},
        {Dialog("    LTEXT \"unterminated, 1, 1, 1, 40, 8\n"), ":6: unterminated string"},
        {Dialog("    LTEXT \"x\", 1, 1, 1, 40, 8\n", ""), ":2: dialog 5 has no FONT"},
        {Dialog("    LTEXT \"x\", 1, 1, 1, 40, 8\n", "FONT 8, \"MS Shell Dlg\"\nCOLOUR 3\n"),
         ":5: unknown dialog option"},
        {Dialog("") + Dialog(""), ":8: dialog id defined twice"},
    };
    for (const Bad& bad : cases) {
        Compiled result = Compile(bad.script);
        EXPECT_NE(result.status, 0) << bad.script;
        EXPECT_NE(result.output.find(bad.message), std::string::npos) << result.output << "\nwanted: " << bad.message;
    }
}

}  // namespace
