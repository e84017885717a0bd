#include "app/main_dialog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/about_box.h"
#include "app/app_state.h"
#include "app/binding.h"
#include "app/progress_dialog.h"
#include "core/messages.h"
#include "job/methods.h"
#include "media/lav/output_codecs.h"
#include "media/source.h"
#include "platform/threads.h"
#include "platform/ui/common_dialogs.h"

namespace {

// The destination's container follows the name's extension; the filters are
// in the order of OutputContainer.
constexpr char supportedFilter[] =
    "AVI files (*.avi)\0*.avi;*.vdr\0Matroska (*.mkv)\0*.mkv\0MP4 (*.mp4)\0*.mp4\0QuickTime (*.mov)\0*.mov\0"
    "WebM (*.webm)\0*.webm\0All Files (*.*)\0*.*\0";
// Sources may be any video file libavformat reads.
constexpr char sourceFilter[] =
    "Video files\0*.avi;*.mp4;*.m4v;*.mkv;*.mov;*.webm;*.ts;*.m2ts;*.mts;*.mpg;*.mpeg\0"
    "AVI files\0*.avi\0All files\0*\0";

void FillList(HWND dialog, int id, const char* (*label)(int), int count) {
    ResetList(dialog, id);
    for (int value = 0; value < count; ++value) AddListItem(dialog, id, label(value));
}

void Initialise(HWND dialog) {
    ConversionSettings& s = appState.settings;
    appState.mainWindow = dialog;
    s.sourcePath[0] = '\0';
    s.destinationPath[0] = '\0';
    appState.editTrackingEnabled = 1;
    s.outputHeight = 1;
    SetProgramIcon(appState.instance, IDR_PROGRAM_ICON);
    SetSpinRange(dialog, IDC_RATE_SPIN, 1, 32767);
    SetSpinRange(dialog, IDC_RANGE_SPIN, 1, 100);
    SetSpinRange(dialog, IDC_SPEED_SPIN, 1, 32767);
    SetSpinRange(dialog, IDC_HEIGHT_SPIN, 1, 32767);
    SetSpinRange(dialog, IDC_THRESHOLD_SPIN, 0, 255);
    FillList(
        dialog, IDC_METHOD, [](int v) { return methodTable[v].label; }, interpolationMethodCount);
    FillList(
        dialog, IDC_DEINTERLACE, [](int v) { return DeinterlaceModeLabel(static_cast<DeinterlaceMode>(v)); },
        deinterlaceModeCount);
    FillList(
        dialog, IDC_RESAMPLE,
        [](int v) { return InterlaceResampleMethodLabel(static_cast<InterlaceResampleMethod>(v)); },
        interlaceResampleMethodCount);
    FillList(
        dialog, IDC_ASPECT, [](int v) { return AspectPresetLabel(static_cast<AspectPreset>(v)); }, aspectPresetCount);
    RefreshMainDialog(dialog, true);
}

void LiveEdit(HWND dialog, const DialogEvent& event) {
    int caret = ReadMainDialog(dialog, event.control, event.selectionEnd);
    if (caret < 0) return;  // unfinished: the field keeps what was typed
    RefreshMainDialog(dialog, false);
    SetEditSelection(dialog, event.control, caret, caret);
}

void Go(HWND dialog) {
    ReadMainDialog(dialog, 0, -1);
    const ConversionSettings& s = appState.settings;
    if (s.sourcePath[0] == '\0') {
        ShowMessage(AppUser(), dialog, IDS_CAPTION, IDS_NO_SOURCE, MB_ICONERROR);
        return;
    }
    if (s.destinationPath[0] == '\0') {
        ShowMessage(AppUser(), dialog, IDS_CAPTION, IDS_NO_DESTINATION, MB_ICONERROR);
        return;
    }
    RunProgressDialog(dialog);
    RefreshMainDialog(dialog, true);
}

void BrowseSource(HWND dialog) {
    ReadMainDialog(dialog, 0, -1);
    char path[maxPathChars + 1] = {};
    char title[256];
    LoadStringA(appState.instance, IDS_SOURCE_DIALOG_TITLE, title, sizeof title);
    // The dialog opens where the current source is (one given on the command
    // line included); without one, where the last file was chosen.
    std::string folder = appState.settings.sourcePath;
    std::size_t name = folder.find_last_of("\\/");
    folder.resize(name == std::string::npos ? 0 : name + 1);
    OPENFILENAMEA request;
    request.hwndOwner = dialog;
    request.lpstrInitialDir = folder.c_str();
    request.lpstrFilter = sourceFilter;
    request.nFilterIndex = 1;
    request.lpstrFile = path;
    request.nMaxFile = sizeof path;
    request.lpstrTitle = title;
    request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    if (!GetOpenFileNameA(&request)) return;
    OpenChosenSource(dialog, path);
}

void BrowseDestination(HWND dialog) {
    ReadMainDialog(dialog, 0, -1);
    char title[256];
    LoadStringA(appState.instance, IDS_DESTINATION_DIALOG_TITLE, title, sizeof title);
    OPENFILENAMEA request;
    request.hwndOwner = dialog;
    request.lpstrFilter = supportedFilter;
    // The filter of the destination's container, so its own files are listed.
    request.nFilterIndex = static_cast<DWORD>(OutputContainerOf(appState.settings.destinationPath)) + 1;
    request.lpstrFile = appState.settings.destinationPath;
    request.nMaxFile = sizeof appState.settings.destinationPath;
    request.lpstrTitle = title;
    request.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (GetSaveFileNameA(&request)) RefreshMainDialog(dialog, false);
}

void CloseRequest(HWND dialog) {
    ReadMainDialog(dialog, 0, -1);
    if (appState.media.source.isOpen) CloseMedia(appState.media, nullptr, false);
    if (!SaveSettings(AppUser(), dialog, appState.settings))
        return;  // the process end handler returned: leave the dialog open
    EndDialog(dialog, 0);
}

bool Command(HWND dialog, const DialogEvent& event) {
    switch (event.notification) {
        case CBN_SELENDOK: ReadMainDialog(dialog, 0, 0); return true;
        case EN_KILLFOCUS:
            ReadMainDialog(dialog, 0, -1);
            RefreshMainDialog(dialog, false);
            return true;
        case EN_UPDATE:
            if ((event.control == IDC_RATE || event.control == IDC_SPEED) && appState.editTrackingEnabled)
                LiveEdit(dialog, event);
            return true;
        case BN_CLICKED: break;
        default: return true;
    }
    switch (event.control) {
        case IDC_GO: Go(dialog); break;
        case IDC_CLOSE: PostClose(dialog); break;
        case IDC_HELP_BUTTON: OpenUserGuide(dialog); break;
        case IDC_SOURCE_BROWSE: BrowseSource(dialog); break;
        case IDC_DESTINATION_BROWSE: BrowseDestination(dialog); break;
        case IDC_ABOUT: ShowAboutBox(dialog); break;
        case IDC_LETTERBOX_IMAGE:
        case IDC_LETTERBOX_FRAME:
        case IDC_DUPLICATES:
            ReadMainDialog(dialog, event.control, -1);
            RefreshMainDialog(dialog, false);
            break;
        default: break;
    }
    return true;
}

}  // namespace

std::string ProposedDestination(const char* sourcePath) {
    std::string path = sourcePath;
    // Only a "." of the file name counts: a dotted folder is no extension.
    std::size_t name = path.find_last_of("\\/");
    std::size_t dot = path.find_last_of('.');
    std::string extension = ".avi";
    if (dot != std::string::npos && (name == std::string::npos || dot > name)) {
        // A container we write keeps its extension (AVI's own: .avi, .vdr
        // give .avi); any other becomes Matroska.
        std::string lower = path.substr(dot);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        extension = lower == ".avi"                                    ? path.substr(dot)
                    : OutputContainerOf(lower) != OutputContainer::avi ? path.substr(dot)
                    : lower == ".vdr"                                  ? ".avi"
                                                                       : ".mkv";
        path.resize(dot);
    }
    path += "_proc" + extension;
    return path.size() <= static_cast<std::size_t>(maxPathChars) ? path : std::string();
}

void OpenChosenSource(HWND dialog, const char* path) {
    ConversionSettings& s = appState.settings;
    switch (CheckSourceFile(path)) {
        case SourceCheck::cannotOpen:
            ShowMessage(AppUser(), dialog, IDS_CAPTION, IDS_CANNOT_OPEN_SOURCE, MB_ICONERROR);
            return;
        case SourceCheck::tooLarge:
            ShowMessage(AppUser(), dialog, IDS_CAPTION, IDS_SOURCE_TOO_LARGE, MB_ICONERROR);
            return;
        case SourceCheck::admitted: break;
    }
    if (appState.media.source.isOpen) CloseMedia(appState.media, nullptr, false);
    RunResult result = OpenSource(appState.media, path);
    if (result == sourceOpened) {
        std::snprintf(s.sourcePath, sizeof s.sourcePath, "%s", path);
        std::snprintf(s.destinationPath, sizeof s.destinationPath, "%s", ProposedDestination(path).c_str());
        s.outputHeight = static_cast<std::int32_t>(appState.media.source.fileInfo.dwHeight);
    } else {
        ShowMessage(AppUser(), dialog, IDS_CAPTION, ResultMessageId(result), MB_ICONERROR);
        s.sourcePath[0] = '\0';
        s.destinationPath[0] = '\0';
    }
    RefreshMainDialog(dialog, true);
}

std::string UserGuidePath(const char* programDirectory) {
    std::string beside = std::string(programDirectory) + "Guide\\index.htm";
    std::string local = beside;
    std::replace(local.begin(), local.end(), '\\', '/');
    if (std::filesystem::exists(local)) return beside;
    // An installed converter lives in <prefix>/bin, its guide in <prefix>/share/tavrick.
    std::string shared = std::string(programDirectory) + "../share/tavrick/Guide/index.htm";
    std::replace(shared.begin(), shared.end(), '\\', '/');
    std::error_code error;
    if (std::filesystem::exists(shared, error)) return std::filesystem::weakly_canonical(shared, error).string();
    return beside;
}

void OpenUserGuide(HWND dialog) {
    std::string path = UserGuidePath(appState.programDirectory);
    ShellExecuteA(dialog, "open", path.c_str(), nullptr, appState.programDirectory, SW_SHOW);
}

bool MainDialogProc(HWND dialog, const DialogEvent& event, void*) {
    switch (event.kind) {
        case DialogEventKind::Init: Initialise(dialog); return true;
        case DialogEventKind::Command: return Command(dialog, event);
        case DialogEventKind::Help: PostCommand(dialog, IDC_HELP_BUTTON); return true;
        case DialogEventKind::VScroll:
            if (event.control == IDC_RATE_SPIN) {
                appState.settings.dstRate = event.position;
                RefreshMainDialog(dialog, false);
            } else if (event.control == IDC_SPEED_SPIN) {
                appState.settings.srcSpeed = event.position * 0.01;
                RefreshMainDialog(dialog, false);
            }
            return true;
        case DialogEventKind::Activate:
            if (!event.byMouseClick && event.minimised && GetForegroundWindow() == dialog) {
                ShowWindow(dialog, SW_RESTORE);
                RestoreWorkerPriority();
            }
            return true;
        case DialogEventKind::Close: CloseRequest(dialog); return true;
        default: return false;
    }
}
