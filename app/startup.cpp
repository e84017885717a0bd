#include "app/startup.h"

#include <strings.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QMetaObject>
#include <QWidget>

#include "app/about_box.h"
#include "app/app_state.h"
#include "app/binding.h"
#include "app/main_dialog.h"
#include "core/messages.h"
#include "frames/kernels.h"
#include "frames/tables.h"
#include "platform/module.h"

AppState appState;

namespace {

bool BuildTables(KernelTables& tables) {
    // No memory for the blend table: end at once, silently.
    if (!buildBlendTable(tables.blend)) return false;
    // The kernels must never run on a missing table: say so and end.
    if (!buildLanczosTable(tables.lanczos) || !buildCubicTable(tables.cubic) || !buildSineTable(tables.sine)) {
        ShowMessage(AppUser(), nullptr, IDS_CAPTION, IDS_MEMORY_PROBLEM, MB_ICONERROR);
        return false;
    }
    tables.multipliersExact = DeriveBlendMultipliers(tables.blend, tables.blendMultiplier);
    return true;
}

}  // namespace

bool IsUninstallSwitch(const std::string& commandLine) { return strcasecmp(commandLine.c_str(), "-uninstall") == 0; }

std::string CommandLinePath(const std::string& commandLine) {
    std::size_t at = commandLine.find_first_not_of(' ');
    if (at == std::string::npos) return {};
    if (commandLine[at] == '"') {
        std::size_t end = commandLine.find('"', at + 1);
        return commandLine.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    }
    return commandLine.substr(at);
}

std::string ProgramDirectoryOf(const std::string& programPath) {
    std::string path = programPath.substr(0, maxPathChars);
    std::size_t separator = path.find_last_of('\\');
    if (separator == std::string::npos) separator = path.find_last_of('/');
    std::string directory = separator == std::string::npos ? std::string() : path.substr(0, separator);
    if (!directory.empty() && directory.back() == ':') directory += '\\';
    if (directory.empty() || directory.back() != '\\') directory += '\\';
    return directory;
}

int RunConverter(const std::string& programPath, const std::string& initialSource) {
    // The front end: the GUI's own unless a caller (a test) set one up.
    if (!appState.frontEnd.messageBox) {
        appState.frontEnd = GuiFrontEnd();
        appState.frontEnd.endProcess = [](void*, int exitCode) {
            // Qt's objects can't be torn down from inside its event loop: end at once.
            std::fflush(nullptr);
            std::_Exit(exitCode);
        };
    }
    appState.instance = GetModuleHandleA(nullptr);
    std::snprintf(appState.programDirectory, sizeof appState.programDirectory, "%s",
                  ProgramDirectoryOf(programPath).c_str());
    if (!LoadSettings(AppUser(), appState.settings)) return 255;
    GuardLoadedSettings(appState.settings);
    ReleaseKernelTables(appState.session.tables);
    if (!BuildTables(appState.session.tables)) return 1;
    // Every run of the session uses these; they live until the process ends.
    appState.session.tablesBuilt = true;
    if (!appState.normalFont) CreateLabelFonts();

    std::string source = initialSource;
    DialogBoxParamA(
        appState.instance, IDD_MAIN, nullptr,
        [](HWND dialog, const DialogEvent& event, void* param) {
            bool handled = MainDialogProc(dialog, event, nullptr);
            auto* path = static_cast<std::string*>(param);
            if (event.kind == DialogEventKind::Init && !path->empty()) {
                // Once the dialog is up, as if the path had been chosen with "&Browse...".
                std::string chosen = *path;
                QMetaObject::invokeMethod(
                    static_cast<QWidget*>(dialog),
                    [dialog, chosen] {
                        if (chosen.size() > static_cast<std::size_t>(maxPathChars))
                            ShowMessage(AppUser(), dialog, IDS_CAPTION, IDS_CANNOT_OPEN_SOURCE, MB_ICONERROR);
                        else
                            OpenChosenSource(dialog, chosen.c_str());
                    },
                    Qt::QueuedConnection);
            }
            return handled;
        },
        &source);
    return 0;
}
