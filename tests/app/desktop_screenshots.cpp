// Renders the about box and a page of the user guide to PNG files for the
// documentation. Usage: tavrick_desktop_screenshots GUIDE_FOLDER OUTPUT_FOLDER
// (scripts/desktop-screenshots runs it under xvfb-run).

#include <cstdio>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QPixmap>
#include <QTextBrowser>
#include <QUrl>

#include "app/about_box.h"
#include "app/app_state.h"
#include "app/main_dialog.h"
#include "platform/module.h"

namespace {

bool Save(QWidget* widget, const std::string& path) {
    QApplication::processEvents();
    bool saved = widget->grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tavrick_desktop_screenshots GUIDE_FOLDER OUTPUT_FOLDER\n");
        return 2;
    }
    std::string guide = std::filesystem::absolute(argv[1]).string();
    std::string folder = argv[2];
    std::filesystem::create_directories(folder);
    QApplication application(argc, argv);
    appState.instance = GetModuleHandleA(nullptr);
    std::snprintf(appState.programDirectory, sizeof appState.programDirectory, "%s/../\\", guide.c_str());
    SetProgramIcon(appState.instance, IDR_PROGRAM_ICON);
    CreateLabelFonts();

    bool ok = true;
    HWND about = CreateDialogParamA(appState.instance, IDD_ABOUT, nullptr, AboutBoxProc, nullptr);
    if (!about) return 1;
    auto* box = static_cast<QWidget*>(about);
    // The pointer over the web link, as when it is about to be clicked.
    QWidget* web = static_cast<QWidget*>(GetDlgItem(about, IDC_WEB_LINK));
    QPoint over = web->mapToGlobal(web->rect().center());
    UpdateLinkHover(about, over.x(), over.y());
    ok &= Save(box, folder + "/about-box.png");
    DestroyWindow(about);

    // The guide as a simple browser shows it (Qt's rich text: most of the CSS).
    QTextBrowser page;
    page.resize(820, 900);
    page.setSource(QUrl::fromLocalFile(QString::fromStdString(guide + "/methods.htm")));
    page.show();
    ok &= Save(&page, folder + "/guide-methods.png");
    return ok ? 0 : 1;
}
