#include "resources/dialog.h"

namespace {

bool Same(const char* a, const char* b) {
    // Class names are case-insensitive, as the platform treats them.
    for (; *a && *b; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

}  // namespace

DialogControlKind ClassifyDialogControl(const char* className, std::uint32_t style) {
    if (!className) return DialogControlKind::Invalid;
    if (Same(className, WC_STATIC)) {
        switch (style & SS_TYPEMASK) {
            case SS_LEFT:
            case SS_CENTER:
            case SS_RIGHT:
            case SS_LEFTNOWORDWRAP: return DialogControlKind::Static;
            case SS_BITMAP: return DialogControlKind::Picture;
            default: return DialogControlKind::Invalid;
        }
    }
    if (Same(className, WC_BUTTON)) {
        switch (style & BS_TYPEMASK) {
            case BS_PUSHBUTTON: return DialogControlKind::PushButton;
            case BS_DEFPUSHBUTTON: return DialogControlKind::DefaultPushButton;
            case BS_AUTOCHECKBOX: return DialogControlKind::CheckBox;
            case BS_GROUPBOX: return DialogControlKind::GroupBox;
            default: return DialogControlKind::Invalid;
        }
    }
    if (Same(className, WC_EDIT)) return style & ES_MULTILINE ? DialogControlKind::Invalid : DialogControlKind::Edit;
    if (Same(className, WC_COMBOBOX))
        return (style & CBS_TYPEMASK) == CBS_DROPDOWNLIST ? DialogControlKind::DropDownList
                                                          : DialogControlKind::Invalid;
    if (Same(className, UPDOWN_CLASS))
        return style & (UDS_HORZ | UDS_WRAP | UDS_ALIGNLEFT) ? DialogControlKind::Invalid : DialogControlKind::UpDown;
    if (Same(className, PROGRESS_CLASS)) return DialogControlKind::ProgressBar;
    if (Same(className, RICHEDIT_CLASS)) return DialogControlKind::RichEdit;
    return DialogControlKind::Invalid;
}

const char* DialogControlKindName(DialogControlKind kind) {
    switch (kind) {
        case DialogControlKind::Static: return "static";
        case DialogControlKind::Picture: return "picture";
        case DialogControlKind::GroupBox: return "group box";
        case DialogControlKind::Edit: return "edit";
        case DialogControlKind::PushButton: return "push button";
        case DialogControlKind::DefaultPushButton: return "default push button";
        case DialogControlKind::CheckBox: return "check box";
        case DialogControlKind::DropDownList: return "drop-down list";
        case DialogControlKind::UpDown: return "up-down";
        case DialogControlKind::ProgressBar: return "progress bar";
        case DialogControlKind::RichEdit: return "rich-text edit";
        case DialogControlKind::Invalid: break;
    }
    return "invalid";
}
