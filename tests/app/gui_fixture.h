// The main dialog of `converter` on Qt's offscreen platform, with a settings
// store of its own and every box and file dialog answered by the test.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include <QWidget>

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "platform/msgbox.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/window.h"
#include "tests/platform/temp_store.h"

// File dialogs answered from a queue of paths ("" or an empty queue: Cancel).
struct FileDialogLog {
    std::deque<std::string> answers;
    std::vector<std::string> titles;
    std::vector<bool> saves;
    std::vector<std::string> initialNames;
    std::vector<std::string> initialDirs;
    std::vector<std::string> filters;  // "label|patterns" pairs, joined by newlines
    std::vector<int> filterIndexes;    // 1: the first pair
};

struct ShellLog {
    std::vector<std::string> files;
    std::vector<std::string> directories;
};

class MainDialogTest : public TempStoreTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the main dialog as start-up shows it (not yet with a source).
    void OpenMainDialog();
    QWidget* Item(int id) const { return static_cast<QWidget*>(GetDlgItem(dialog, id)); }
    std::string Text(int id) const;
    // Types over what a field holds, with real key presses ("": deletes it).
    void Retype(int id, const char* keys);
    void Click(int id);
    // Picks path with the source "&Browse..." button.
    void ChooseSource(const std::string& path);
    std::vector<std::string> Messages() const;  // texts of every box shown, in order

    HWND dialog = nullptr;
    MessageBoxRecorder boxes;
    int endedWith = -1;  // the code the process would have ended with
    FileDialogLog files;
    ShellLog shell;
};

// A small uncompressed clip with PCM audio written by the product's writer.
std::string WriteTestClip(const std::string& path, int width, int height, int frames, bool audio = true);
