#include "platform/ui/common_dialogs.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "platform/ui/ui_thread.h"

namespace {

QWidget* OwnerWidget(HWND owner) { return static_cast<QWidget*>(owner); }

struct Button {
    QMessageBox::StandardButton qt;
    int id;
};

std::vector<Button> ButtonsOf(UINT style) {
    using B = QMessageBox;
    switch (style & MB_TYPEMASK) {
        case MB_OKCANCEL: return {{B::Ok, IDOK}, {B::Cancel, IDCANCEL}};
        case 0x2: return {{B::Abort, 3}, {B::Retry, 4}, {B::Ignore, 5}};
        case MB_YESNOCANCEL: return {{B::Yes, IDYES}, {B::No, IDNO}, {B::Cancel, IDCANCEL}};
        case MB_YESNO: return {{B::Yes, IDYES}, {B::No, IDNO}};
        case 0x5: return {{B::Retry, 4}, {B::Cancel, IDCANCEL}};
        default: return {{B::Ok, IDOK}};
    }
}

QMessageBox::Icon IconOf(UINT style) {
    switch (style & MB_ICONMASK) {
        case MB_ICONERROR: return QMessageBox::Critical;
        case MB_ICONQUESTION: return QMessageBox::Question;
        case MB_ICONWARNING: return QMessageBox::Warning;
        case MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

int ShowBox(HWND owner, const QString& text, const QString& caption, UINT style) {
    QMessageBox box(IconOf(style), caption, text, QMessageBox::NoButton, OwnerWidget(owner));
    std::vector<Button> buttons = ButtonsOf(style);
    for (const Button& button : buttons) box.addButton(button.qt);
    box.setDefaultButton(buttons.front().qt);
    // Escape and the close box give the box's way out: Cancel, else No, else its one button.
    QMessageBox::StandardButton out = buttons.front().qt;
    for (const Button& button : buttons)
        if (button.qt == QMessageBox::Cancel || (button.qt == QMessageBox::No && out != QMessageBox::Cancel))
            out = button.qt;
    box.setEscapeButton(out);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (const Button& button : buttons)
        if (clicked == box.button(button.qt)) return button.id;
    for (const Button& button : buttons)
        if (button.qt == out) return button.id;
    return IDOK;
}

struct FilePresenter {
    FileDialogPresenter present = PresentQtFileDialog;
    void* context = nullptr;
};
struct ShellHandler {
    ShellOpenHandler open = OpenWithDesktop;
    void* context = nullptr;
};
std::mutex hooksLock;
FilePresenter filePresenter;
ShellHandler shellHandler;

bool RunFileDialog(bool save, OPENFILENAMEA* request) {
    if (!request || !request->lpstrFile || request->nMaxFile == 0) return false;
    FilePresenter current;
    {
        std::lock_guard<std::mutex> hold(hooksLock);
        current = filePresenter;
    }
    return CallOnUiThread([&] { return current.present(current.context, save, request); });
}

// The folder of the last file chosen, where a dialog without a name of its own opens.
QString lastFolder;

// The Qt file dialog with the platform's refusal of a folder that doesn't
// exist: a warning over the dialog, which stays open for another name.
class CheckedFileDialog : public QFileDialog {
public:
    CheckedFileDialog(QWidget* owner, const QString& title, bool folderMustExist)
        : QFileDialog(owner, title), folderMustExist_(folderMustExist) {}

    void accept() override {
        QStringList files = selectedFiles();
        if (folderMustExist_ && !files.isEmpty()) {
            QFileInfo chosen(files.first());
            if (!chosen.isDir() && !chosen.dir().exists()) {
                QMessageBox::warning(this, windowTitle(),
                                     QString("The folder \"%1\" does not exist.\nCheck the path and try again.")
                                         .arg(QDir::toNativeSeparators(chosen.absolutePath())));
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    bool folderMustExist_;
};

bool IsUrl(const QString& file) {
    // A scheme of two letters or more, so "C:\..." stays a path.
    int colon = file.indexOf(':');
    return colon >= 2 && QUrl(file).isValid() && !QUrl(file).scheme().isEmpty();
}

}  // namespace

int PresentWithQt(void*, HWND owner, const char* text, const char* caption, UINT style) {
    QString qtText = QString::fromLatin1(text ? text : "");
    QString qtCaption = QString::fromLatin1(caption ? caption : "");
    return CallOnUiThread([&] { return ShowBox(owner, qtText, qtCaption, style); });
}

bool GetOpenFileNameA(OPENFILENAMEA* request) { return RunFileDialog(false, request); }

bool GetSaveFileNameA(OPENFILENAMEA* request) { return RunFileDialog(true, request); }

void SetFileDialogPresenter(FileDialogPresenter presenter, void* context) {
    std::lock_guard<std::mutex> hold(hooksLock);
    filePresenter = presenter ? FilePresenter{presenter, context} : FilePresenter{};
}

bool PresentQtFileDialog(void*, bool save, OPENFILENAMEA* request) {
    CheckedFileDialog dialog(OwnerWidget(request->hwndOwner),
                             QString::fromLatin1(request->lpstrTitle ? request->lpstrTitle : ""),
                             request->Flags & OFN_PATHMUSTEXIST);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save || !(request->Flags & OFN_FILEMUSTEXIST) ? QFileDialog::AnyFile
                                                                     : QFileDialog::ExistingFile);
    if (save && !(request->Flags & OFN_OVERWRITEPROMPT)) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // A name typed without extension is used as typed, unless a default is asked for.
    if (request->lpstrDefExt && *request->lpstrDefExt)
        dialog.setDefaultSuffix(QString::fromLatin1(request->lpstrDefExt));

    QStringList filters;
    for (const char* at = request->lpstrFilter; at && *at;) {
        QString label = QString::fromLatin1(at);
        at += std::strlen(at) + 1;
        if (!*at) break;  // a label without patterns ends the list
        QString patterns = QString::fromLatin1(at);
        at += std::strlen(at) + 1;
        filters << QString("%1 (%2)").arg(label, patterns.split(';', Qt::SkipEmptyParts).join(' '));
    }
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        int index = request->nFilterIndex >= 1 ? static_cast<int>(request->nFilterIndex) - 1 : 0;
        if (index < filters.size()) dialog.selectNameFilter(filters[index]);
    }
    QString initial = QString::fromLatin1(request->lpstrFile).replace('\\', '/');
    QString initialDir =
        QString::fromLatin1(request->lpstrInitialDir ? request->lpstrInitialDir : "").replace('\\', '/');
    if (initialDir.isEmpty()) initialDir = lastFolder;
    if (!initialDir.isEmpty() && QDir(initialDir).exists()) dialog.setDirectory(initialDir);
    if (!initial.isEmpty()) {
        QFileInfo info(initial);
        if (info.dir().exists()) dialog.setDirectory(info.dir());
        dialog.selectFile(info.fileName());
    }
    dialog.setSizeGripEnabled(request->Flags & OFN_ENABLESIZING);
    if (!(request->Flags & OFN_ENABLESIZING)) dialog.setFixedSize(dialog.sizeHint());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    QByteArray chosen = QDir::toNativeSeparators(dialog.selectedFiles().first()).toLatin1();
    if (request->Flags & OFN_PATHMUSTEXIST && !QFileInfo(QString::fromLatin1(chosen)).dir().exists()) return false;
    if (static_cast<DWORD>(chosen.size()) + 1 > request->nMaxFile) return false;
    std::memcpy(request->lpstrFile, chosen.constData(), chosen.size() + 1);
    lastFolder = QFileInfo(dialog.selectedFiles().first()).absolutePath();
    return true;
}

void SetShellOpenHandler(ShellOpenHandler handler, void* context) {
    std::lock_guard<std::mutex> hold(hooksLock);
    shellHandler = handler ? ShellHandler{handler, context} : ShellHandler{};
}

bool OpenWithDesktop(void*, const char*, const char* file, const char*, const char* directory, int) {
    QString target = QString::fromLatin1(file ? file : "");
    if (target.isEmpty()) return false;
    if (IsUrl(target)) return QDesktopServices::openUrl(QUrl(target));
    // The product builds paths with backslashes; this system's separator is '/'.
    target.replace('\\', '/');
    QFileInfo info(target);
    if (info.isRelative() && directory && *directory)
        info = QFileInfo(QDir(QString::fromLatin1(directory).replace('\\', '/')), target);
    if (!info.exists()) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

long ShellExecuteA(HWND, const char* verb, const char* file, const char* parameters, const char* directory, int show) {
    ShellHandler current;
    {
        std::lock_guard<std::mutex> hold(hooksLock);
        current = shellHandler;
    }
    bool done = CallOnUiThread([&] { return current.open(current.context, verb, file, parameters, directory, show); });
    return done ? 33 : 2;
}
