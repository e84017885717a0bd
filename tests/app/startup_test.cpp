// Start-up: the uninstall switch (as a process), a settings store that can't
// be opened, the program directory, and a source given on the command line.

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "app/binding.h"
#include "app/startup.h"
#include "tests/app/gui_fixture.h"

namespace {

class Startup : public MainDialogTest {
protected:
    std::string StoreFile() const { return root + "/HKEY_LOCAL_MACHINE/Software/Norvane Software/Tavrick.reg"; }
    // converter as its own process, with no display: only the switch can end well.
    int RunWithoutDisplay(const std::string& argument) const {
        std::string command = "env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY TAVRICK_REGISTRY_DIR='" + root +
                              "' " CONVERTER " '" + argument + "' 2>/dev/null";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(Startup, UninstallDeletesTheKeyInAnyCaseAndNothingElseDoes) {
    ASSERT_TRUE(LoadSettings(AppUser(), appState.settings));  // creates the key
    ASSERT_TRUE(std::filesystem::exists(StoreFile()));
    EXPECT_EQ(RunWithoutDisplay("-uninstall "), 1);  // not the switch: it wants a display
    EXPECT_TRUE(std::filesystem::exists(StoreFile()));
    EXPECT_EQ(RunWithoutDisplay("-UnInstall"), 0);
    EXPECT_FALSE(std::filesystem::exists(StoreFile()));
    EXPECT_EQ(RunWithoutDisplay("-UNINSTALL"), 0);  // no key: still 0
}

TEST_F(Startup, AStoreThatCantBeOpenedGives122And255) {
    std::ofstream(base + "/file") << "x";
    setenv("TAVRICK_REGISTRY_DIR", (base + "/file/registry").c_str(), 1);
    EXPECT_EQ(RunConverter("/opt/tavrick/converter", ""), 255);
    EXPECT_EQ(Messages(),
              std::vector<std::string>{"Cannot open or create the registry key! Try to reboot your computer."});
    EXPECT_EQ(boxes.boxes[0].caption, "Tavrick");
    EXPECT_EQ(endedWith, 255);
}

TEST_F(Startup, ProgramDirectoryAndCommandLinePath) {
    EXPECT_EQ(ProgramDirectoryOf("C:\\Tools\\conv\\converter.exe"), "C:\\Tools\\conv\\");
    EXPECT_EQ(ProgramDirectoryOf("C:\\converter.exe"), "C:\\");
    EXPECT_EQ(ProgramDirectoryOf("/usr/local/bin/converter"), "/usr/local/bin\\");
    EXPECT_EQ(ProgramDirectoryOf("converter"), "\\");
    EXPECT_EQ(CommandLinePath("  \"/tmp/my clip.avi\" extra"), "/tmp/my clip.avi");
    EXPECT_EQ(CommandLinePath("/tmp/my clip.avi"), "/tmp/my clip.avi");
    EXPECT_EQ(CommandLinePath("   "), "");
    EXPECT_TRUE(IsUninstallSwitch("-uNINSTALL"));
    EXPECT_FALSE(IsUninstallSwitch("-uninstall x"));
}

TEST_F(Startup, ASourceOnTheCommandLineOpensOnceTheDialogIsUp) {
    std::string clip = WriteTestClip(base + "/clip.avi", 64, 48, 3);
    std::string shown;
    // Once the posted open has run: read the fields, then Escape.
    QTimer::singleShot(50, [&] {
        QWidget* main = QApplication::activeModalWidget();
        ASSERT_NE(main, nullptr);
        char text[300];
        GetDlgItemTextA(main, IDC_SOURCE_PATH, text, sizeof text);
        shown = text;
        QTest::keyClick(main, Qt::Key_Escape);
    });
    EXPECT_EQ(RunConverter("/opt/tavrick/converter", clip), 0);
    EXPECT_EQ(shown, clip);
    EXPECT_TRUE(Messages().empty());

    // Longer than a path may be: refused like a file that can't be opened.
    QTimer::singleShot(50, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
    EXPECT_EQ(RunConverter("/opt/tavrick/converter", "/tmp/" + std::string(300, 'a') + ".avi"), 0);
    EXPECT_EQ(Messages(),
              std::vector<std::string>{"Cannot open the input file. Please check that it's not opened elsewhere."});
}

TEST_F(Startup, ACloseWithoutChangesRewritesTheSameStore) {
    std::string clip = WriteTestClip(base + "/clip.avi", 64, 48, 3);
    // Starts with the clip and closes at once, by Escape or the Close button.
    auto startAndClose = [&](bool escape) {
        QTimer::singleShot(50, [escape] {
            QWidget* main = QApplication::activeModalWidget();
            ASSERT_NE(main, nullptr);
            if (escape)
                QTest::keyClick(main, Qt::Key_Escape);
            else
                QTest::mouseClick(static_cast<QWidget*>(GetDlgItem(main, IDC_CLOSE)), Qt::LeftButton);
        });
        EXPECT_EQ(RunConverter("/opt/tavrick/converter", clip), 0);
        EXPECT_TRUE(Messages().empty());
        return ReadText(StoreFile());
    };

    // A first start writes the defaults; every later close writes them again.
    std::string first = startAndClose(false);
    EXPECT_NE(first.find("\"intDupThr\"=hex(4):05,00,00,00"), std::string::npos) << first;
    EXPECT_EQ(startAndClose(false), first);

    // Values set by hand in the store, the hidden threshold and the range
    // outside their spins' reach included, come back byte for byte.
    ConversionSettings hand = DefaultSettings();
    hand.dstRate = 29.97;
    hand.srcSpeed = 1.5;
    hand.intMethod = InterpolationMethod::Cubic;
    hand.intRange = 0.29;
    hand.deint = DeinterlaceMode::OddFields;
    hand.deintRes = InterlaceResampleMethod::Lanczos;
    hand.segment = 0;
    hand.aspect = AspectPreset::Custom;
    hand.letterbox = LetterboxMode::ImageKept;
    hand.intDup = 1;
    hand.intDupThr = 42;
    ASSERT_TRUE(SaveSettings(AppUser(), nullptr, hand));
    std::string handSet = ReadText(StoreFile());
    EXPECT_EQ(startAndClose(true), handSet);
    hand.intDup = 0;
    hand.intDupThr = 300;
    hand.intRange = 0;
    ASSERT_TRUE(SaveSettings(AppUser(), nullptr, hand));
    handSet = ReadText(StoreFile());
    EXPECT_EQ(startAndClose(true), handSet);
}

}  // namespace
