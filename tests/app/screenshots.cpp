// Renders the GUI's dialogs to PNG files for the README: the main dialog with
// a source open, the compression options dialog, the progress dialog mid-run.
// Usage: tavrick_screenshots SOURCE.avi OUTPUT_FOLDER (on any Qt platform;
// scripts/screenshots runs it offscreen).

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QTimer>

#include "app/app_state.h"
#include "app/binding.h"
#include "app/main_dialog.h"
#include "app/options_dialog.h"
#include "app/progress_dialog.h"
#include "platform/ui/window.h"

namespace {

std::string folder;
bool saved[3] = {};

void Save(QWidget* widget, const char* name, int index) {
    std::string path = folder + "/" + name;
    saved[index] = widget->grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", saved[index] ? "wrote" : "could not write", path.c_str());
}

// The options dialog: pictured, then confirmed with what it shows.
void PictureOptions(void* dialog, void*) {
    auto* options = static_cast<QDialog*>(dialog);
    options->adjustSize();
    QApplication::processEvents();
    Save(options, "options-dialog.png", 1);
    options->accept();
}

// The progress dialog once the run is well under way: paused, pictured, stopped.
void WatchProgress() {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll] {
        HWND progress = appState.progressWindow;
        if (!progress || GetProgressPos(progress, 1010) < 40) return;
        poll->stop();
        poll->deleteLater();
        static_cast<QAbstractButton*>(GetDlgItem(progress, 1020))->click();
        QTimer::singleShot(200, [progress] {
            Save(static_cast<QWidget*>(progress), "progress-dialog.png", 2);
            static_cast<QAbstractButton*>(GetDlgItem(progress, 2))->click();
        });
    });
    poll->start(5);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tavrick_screenshots SOURCE.avi OUTPUT_FOLDER\n");
        return 2;
    }
    folder = argv[2];
    std::filesystem::create_directories(folder);
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    appState.instance = GetModuleHandleA(nullptr);
    appState.frontEnd = GuiFrontEnd();
    if (!LoadSettings(AppUser(), appState.settings)) return 255;
    GuardLoadedSettings(appState.settings);
    // The pictures show a typical choice, whatever the store held.
    appState.settings.dstRate = 50;
    appState.settings.intMethod = InterpolationMethod::Lansin2;
    appState.settings.aspect = AspectPreset::Square;
    appState.settings.pOptions.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
    appState.settings.pOptions.dwQuality = 8500;
    SetOptionsDialogDriver(PictureOptions, nullptr);

    HWND main = CreateDialogParamA(appState.instance, IDD_MAIN, nullptr, MainDialogProc, nullptr);
    OpenChosenSource(main, argv[1]);
    QApplication::processEvents();
    Save(static_cast<QWidget*>(main), "main-dialog.png", 0);

    std::string destination = folder + "/screenshot-run.avi";
    SetDlgItemTextA(main, IDC_DESTINATION_PATH, destination.c_str());
    std::filesystem::remove(destination);
    WatchProgress();
    // Answers "Done" or nothing (stopped): the run is only there to be pictured.
    appState.frontEnd.messageBox = [](void*, HWND, const char*, const char*, UINT) { return IDOK; };
    static_cast<QAbstractButton*>(GetDlgItem(main, IDC_GO))->click();  // returns when the run has ended
    DestroyWindow(main);
    std::filesystem::remove(destination);
    return saved[0] && saved[1] && saved[2] ? 0 : 1;
}
