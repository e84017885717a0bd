// The main dialog's commands with every box and file dialog answered by the
// test: "&GO!" without paths, choosing good and bad sources, closing with the
// settings saved, the user guide.

#include <filesystem>
#include <fstream>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>

#include "app/binding.h"
#include "app/main_dialog.h"
#include "core/messages.h"
#include "job/source_info.h"
#include "tests/app/gui_fixture.h"

namespace {

const char go118[] = "Please specify source AVI file!";
const char go119[] = "Please specify destination AVI file!";

class Flows : public MainDialogTest {
protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        OpenMainDialog();
    }
};

TEST_F(Flows, GoNeedsASourceThenADestination) {
    Retype(IDC_DESTINATION_PATH, "/tmp/out.avi");
    Click(IDC_GO);
    ASSERT_EQ(Messages(), std::vector<std::string>{go118});
    EXPECT_EQ(boxes.boxes[0].caption, "Tavrick");
    EXPECT_EQ(boxes.boxes[0].style, MB_ICONERROR | MB_TASKMODAL);
    EXPECT_EQ(boxes.boxes[0].owner, dialog);

    ChooseSource(WriteTestClip(base + "/clip.avi", 64, 48, 3));
    EXPECT_EQ(Text(IDC_DESTINATION_PATH), base + "/clip_proc.avi");
    Retype(IDC_DESTINATION_PATH, "");
    QTest::keyClick(Item(IDC_DESTINATION_PATH), Qt::Key_Return);  // Enter is "&GO!"
    EXPECT_EQ(Messages(), (std::vector<std::string>{go118, go119}));
}

TEST_F(Flows, AFailedSourceAfterAGoodOneLeavesNoSource) {
    ChooseSource(WriteTestClip(base + "/clip.avi", 64, 48, 3));
    ASSERT_TRUE(appState.media.source.isOpen);
    EXPECT_NE(Text(IDC_VIDEO_INFO), emptyVideoInfoText);
    EXPECT_EQ(files.titles.back(), "Source File");

    std::ofstream(base + "/broken.avi") << "RIFF\x10\0\0\0AVI LIST";
    ChooseSource(base + "/broken.avi");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find("input file"), std::string::npos) << Messages()[0];
    EXPECT_FALSE(appState.media.source.isOpen);
    EXPECT_EQ(Text(IDC_SOURCE_PATH), "");
    EXPECT_EQ(Text(IDC_DESTINATION_PATH), "");
    EXPECT_EQ(Text(IDC_VIDEO_INFO), emptyVideoInfoText);
    EXPECT_EQ(Text(IDC_AUDIO_INFO), emptyAudioInfoText);

    // A cancelled choice changes nothing.
    Click(IDC_SOURCE_BROWSE);
    EXPECT_EQ(Messages().size(), 1u);
    // The source dialog opens in the current source's folder; with none, the
    // platform's own memory of the last folder decides.
    ASSERT_EQ(files.initialDirs.size(), 3u);
    EXPECT_EQ(files.initialDirs[0], "");
    EXPECT_EQ(files.initialDirs[1], base + "/");
    EXPECT_EQ(files.initialDirs[2], "");
}

// Any video file is offered and opens; its destination keeps the container.
TEST_F(Flows, AnMp4SourceOpensWithAnMp4Destination) {
    const std::string mp4 = base + "/phone.mp4";
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=64x48:rate=30:duration=0.5 -c:v libx264 "
                           "-pix_fmt yuv420p '" +
                           mp4 + "'")
                              .c_str()),
              0);
    ChooseSource(mp4);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(files.filters.back(),
              "Video files|*.avi;*.mp4;*.m4v;*.mkv;*.mov;*.webm;*.ts;*.m2ts;*.mts;*.mpg;*.mpeg\n"
              "AVI files|*.avi\nAll files|*\n");
    ASSERT_TRUE(appState.media.source.isOpen);
    EXPECT_EQ(Text(IDC_DESTINATION_PATH), base + "/phone_proc.mp4");
    EXPECT_NE(Text(IDC_VIDEO_INFO).find("Width: 64 px\nHeight: 48 px\nRate: 30.000 fps"), std::string::npos)
        << Text(IDC_VIDEO_INFO);
}

TEST_F(Flows, SourcesUpToTwoGigabytesPassTheSizeTest) {
    ChooseSource(WriteTestClip(base + "/clip.avi", 64, 48, 3));
    std::string good = Text(IDC_SOURCE_PATH);
    // Sparse files: only their size matters here.
    std::filesystem::resize_file(WriteTestClip(base + "/exact.avi", 64, 48, 3), 0x80000000ull);
    std::filesystem::resize_file(WriteTestClip(base + "/over.avi", 64, 48, 3), 0x80000001ull);
    ChooseSource(base + "/over.avi");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].rfind("Cannot handle files larger than 2 GB", 0), 0u);
    EXPECT_EQ(Text(IDC_SOURCE_PATH), good);  // the refused file changes nothing
    EXPECT_TRUE(appState.media.source.isOpen);
    ChooseSource(base + "/exact.avi");
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Text(IDC_SOURCE_PATH), base + "/exact.avi");
}

TEST_F(Flows, TheProposedDestinationReplacesTheExtensionOfTheFileName) {
    EXPECT_EQ(ProposedDestination("D:\\video\\clip.avi"), "D:\\video\\clip_proc.avi");
    EXPECT_EQ(ProposedDestination("/home/j.smith/clip"), "/home/j.smith/clip_proc.avi");
    EXPECT_EQ(ProposedDestination("clip"), "clip_proc.avi");
    // A container the run writes stays; any other becomes Matroska.
    EXPECT_EQ(ProposedDestination("/v/phone.MP4"), "/v/phone_proc.MP4");
    EXPECT_EQ(ProposedDestination("/v/clip.webm"), "/v/clip_proc.webm");
    EXPECT_EQ(ProposedDestination("/v/tv.ts"), "/v/tv_proc.mkv");
    EXPECT_EQ(ProposedDestination("/v/capture.vdr"), "/v/capture_proc.avi");
    EXPECT_EQ(ProposedDestination(std::string(255, 'a').c_str()), "");  // past 260 characters: none
}

TEST_F(Flows, DestinationBrowseOpensOnTheCurrentPathAndItsContainer) {
    Retype(IDC_DESTINATION_PATH, "/tmp/a.avi");
    files.answers.push_back("/tmp/holiday.MP4");
    Click(IDC_DESTINATION_BROWSE);
    ASSERT_EQ(files.titles.size(), 1u);
    EXPECT_TRUE(files.saves[0]);
    EXPECT_EQ(files.titles[0], "Destination File");
    EXPECT_EQ(files.initialNames[0], "/tmp/a.avi");
    EXPECT_EQ(Text(IDC_DESTINATION_PATH), "/tmp/holiday.MP4");
    EXPECT_EQ(std::string(appState.settings.destinationPath), "/tmp/holiday.MP4");
    // Opened again, the list shows the chosen container's files.
    files.answers.push_back("/tmp/holiday.webm");
    Click(IDC_DESTINATION_BROWSE);
    ASSERT_EQ(files.filterIndexes.size(), 2u);
    EXPECT_EQ(files.filterIndexes[0], 1);
    EXPECT_EQ(files.filterIndexes[1], 3);
    EXPECT_EQ(files.filters[1],
              "AVI files (*.avi)|*.avi;*.vdr\nMatroska (*.mkv)|*.mkv\nMP4 (*.mp4)|*.mp4\nQuickTime (*.mov)|*.mov\n"
              "WebM (*.webm)|*.webm\nAll Files (*.*)|*.*\n");
}

TEST_F(Flows, TheDialogsFitTheDesktopsFontWithinTheTemplate) {
    auto advance = [](QComboBox* list, int i) { return list->fontMetrics().horizontalAdvance(list->itemText(i)); };
    for (int id : {IDC_METHOD, IDC_DEINTERLACE, IDC_RESAMPLE, IDC_ASPECT}) {
        SCOPED_TRACE(id);
        auto* list = static_cast<QComboBox*>(Item(id));
        int longest = 0;
        for (int i = 0; i < list->count(); ++i) longest = std::max(longest, advance(list, i));
        EXPECT_GE(list->view()->minimumWidth(), longest);  // the open list shows every entry whole
        QRect box = list->geometry();
        for (int i = 0; i < GetDlgItemCount(dialog); ++i) {
            auto* other = static_cast<QWidget*>(GetDlgItemAt(dialog, i));
            if (other == list || other->isHidden()) continue;
            if (qobject_cast<QGroupBox*>(other)) {
                if (other->geometry().contains(box.topLeft())) {
                    EXPECT_LE(box.right(), other->geometry().right());
                }
            } else if (other->geometry().left() > box.left()) {  // what follows on its row
                EXPECT_FALSE(other->geometry().intersects(box)) << GetDlgCtrlID(other);
            }
        }
        // Where the template leaves room, the closed box shows its longest entry whole.
        if (id == IDC_DEINTERLACE || id == IDC_RESAMPLE) {
            QStyleOptionComboBox option;
            option.initFrom(list);
            option.frame = true;
            QRect field =
                list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
            EXPECT_GE(field.width(), longest);
        }
    }
    // The read-only source field is on the dialog's face; the destination is not.
    QPalette source = Item(IDC_SOURCE_PATH)->palette(), destination = Item(IDC_DESTINATION_PATH)->palette();
    EXPECT_EQ(source.color(QPalette::Base), source.color(QPalette::Window));
    EXPECT_NE(destination.color(QPalette::Base), destination.color(QPalette::Window));

    // A dialog with an owner opens centred over it, wherever it was moved.
    MoveWindow(dialog, 40, 30, static_cast<QWidget*>(dialog)->width(), static_cast<QWidget*>(dialog)->height());
    HWND progress = CreateDialogParamA(appState.instance, IDD_PROGRESS, dialog, nullptr, nullptr);
    ASSERT_NE(progress, nullptr);
    QPoint owner = static_cast<QWidget*>(dialog)->frameGeometry().center();
    QPoint centred = static_cast<QWidget*>(progress)->frameGeometry().center();
    EXPECT_LE((owner - centred).manhattanLength(), 4) << centred.x() << "," << centred.y();
    DestroyWindow(progress);
}

TEST_F(Flows, F1AndHelpOpenTheSameGuide) {
    QTest::keyClick(Item(IDC_RATE), Qt::Key_F1);
    QApplication::processEvents();
    Click(IDC_HELP_BUTTON);
    ASSERT_EQ(shell.files.size(), 2u);
    EXPECT_EQ(shell.files[0], base + "\\Guide\\index.htm");
    EXPECT_EQ(shell.files[1], shell.files[0]);
    EXPECT_EQ(shell.directories[0], base + "\\");
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Flows, EscapeSavesTheSettingsAndEndsWithZero) {
    DestroyWindow(dialog);
    dialog = nullptr;
    QTimer::singleShot(0, [] {
        QWidget* main = QApplication::activeModalWidget();
        ASSERT_NE(main, nullptr);
        auto* rate = static_cast<QWidget*>(GetDlgItem(main, IDC_RATE));
        rate->setFocus();
        QTest::keyClick(rate, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(rate, "12.5");
        QTest::keyClick(rate, Qt::Key_Escape);
    });
    std::string store = root + "/HKEY_LOCAL_MACHINE/Software/Norvane Software/Tavrick.reg";
    std::filesystem::remove(store);
    EXPECT_EQ(DialogBoxParamA(appState.instance, IDD_MAIN, nullptr, MainDialogProc, nullptr), 0);
    std::string saved = ReadText(store);
    EXPECT_NE(saved.find("\"dstRate\"=hex(4):00,00,00,00,00,00,29,40"), std::string::npos) << saved;
    EXPECT_TRUE(Messages().empty());
}

}  // namespace
