#include "tests/app/gui_fixture.h"

#include <cstring>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "app/binding.h"
#include "app/main_dialog.h"
#include "app/options_dialog.h"
#include "media/source.h"
#include "platform/module.h"
#include "tests/media/writer_fixtures.h"

namespace {

bool AnswerFileDialog(void* context, bool save, OPENFILENAMEA* request) {
    auto* log = static_cast<FileDialogLog*>(context);
    log->titles.push_back(request->lpstrTitle ? request->lpstrTitle : "");
    log->saves.push_back(save);
    log->initialNames.push_back(request->lpstrFile);
    log->initialDirs.push_back(request->lpstrInitialDir ? request->lpstrInitialDir : "");
    std::string filter;
    for (const char* at = request->lpstrFilter; at && *at;) {
        const std::string label = at;
        at += label.size() + 1;
        if (!*at) break;
        filter += label + "|" + at + "\n";
        at += std::strlen(at) + 1;
    }
    log->filters.push_back(filter);
    log->filterIndexes.push_back(static_cast<int>(request->nFilterIndex));
    if (log->answers.empty()) return false;
    std::string answer = log->answers.front();
    log->answers.pop_front();
    if (answer.empty() || answer.size() + 1 > request->nMaxFile) return false;
    std::memcpy(request->lpstrFile, answer.c_str(), answer.size() + 1);
    return true;
}

bool RecordShell(void* context, const char*, const char* file, const char*, const char* directory, int) {
    auto* log = static_cast<ShellLog*>(context);
    log->files.push_back(file ? file : "");
    log->directories.push_back(directory ? directory : "");
    return true;
}

}  // namespace

void MainDialogTest::SetUp() {
    TempStoreTest::SetUp();
    CloseMedia(appState.media, nullptr, false);
    appState.settings = DefaultSettings();
    appState.instance = GetModuleHandleA(nullptr);
    std::snprintf(appState.programDirectory, sizeof appState.programDirectory, "%s\\", base.c_str());
    appState.mainWindow = nullptr;
    boxes.questionAnswer = IDYES;
    // The GUI's front end, with its boxes recorded and the process end noted instead.
    appState.frontEnd = GuiFrontEnd();
    appState.frontEnd.context = this;
    appState.frontEnd.messageBox = [](void* self, HWND owner, const char* text, const char* caption, UINT style) {
        return PresentToRecorder(&static_cast<MainDialogTest*>(self)->boxes, owner, text, caption, style);
    };
    appState.frontEnd.endProcess = [](void* self, int code) { static_cast<MainDialogTest*>(self)->endedWith = code; };
    SetFileDialogPresenter(AnswerFileDialog, &files);
    SetShellOpenHandler(RecordShell, &shell);
}

void MainDialogTest::TearDown() {
    if (dialog) DestroyWindow(dialog);
    CloseMedia(appState.media, nullptr, false);
    appState.frontEnd = FrontEnd{};
    SetFileDialogPresenter(nullptr, nullptr);
    SetShellOpenHandler(nullptr, nullptr);
    SetOptionsDialogDriver(nullptr, nullptr);
    TempStoreTest::TearDown();
}

void MainDialogTest::OpenMainDialog() {
    ASSERT_TRUE(LoadSettings(AppUser(), appState.settings));
    dialog = CreateDialogParamA(appState.instance, IDD_MAIN, nullptr, MainDialogProc, nullptr);
    ASSERT_NE(dialog, nullptr);
    QApplication::setActiveWindow(static_cast<QWidget*>(dialog));
}

std::string MainDialogTest::Text(int id) const {
    char text[300];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void MainDialogTest::Retype(int id, const char* keys) {
    auto* edit = static_cast<QLineEdit*>(Item(id));
    edit->setFocus();
    edit->selectAll();
    // The first key replaces the selection, as when a person types over it.
    if (*keys)
        QTest::keyClicks(edit, keys);
    else
        QTest::keyClick(edit, Qt::Key_Delete);
}

void MainDialogTest::Click(int id) { QTest::mouseClick(Item(id), Qt::LeftButton); }

void MainDialogTest::ChooseSource(const std::string& path) {
    files.answers.push_back(path);
    Click(IDC_SOURCE_BROWSE);
}

std::vector<std::string> MainDialogTest::Messages() const {
    std::vector<std::string> texts;
    for (const RecordedMessageBox& box : boxes.boxes) texts.push_back(box.text);
    return texts;
}

std::string WriteTestClip(const std::string& path, int width, int height, int frames, bool audio) {
    ClipSpec spec;
    spec.width = width;
    spec.height = height;
    spec.frames = frames;
    spec.audio = audio;
    spec.channels = 2;
    spec.bits = 16;
    spec.sampleRate = 44100;
    spec.samplesPerChunk = 1764;
    ClipResult result = WriteClip(path, spec);
    EXPECT_EQ(result.status, AVIERR_OK);
    return path;
}
