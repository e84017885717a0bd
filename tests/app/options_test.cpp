// The compression options dialog: the compressors of `tavrick codecs`, the
// controls a compressor can't use greyed, and the same 44-byte record the
// command line fills from its flags.

#include <cstring>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/options_dialog.h"
#include "core/settings.h"
#include "media/vfw/saveoptions.h"

namespace {

constexpr std::uint32_t bothChoices = ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE;

// What the dialog offered for its current compressor; then sets it as told and confirms or cancels.
struct Driver {
    QString compressor;  // choose this entry ("" keeps the current one)
    int quality = -1;
    int keyFrameEvery = 0;  // 0: untick
    int kilobytes = 0;      // 0: untick
    bool confirm = true;
    // Seen:
    QStringList entries;
    QString current;
    bool qualityEnabled = false, keyFramesEnabled = false, dataRateEnabled = false;
    bool fixedSize = false;
};

void Drive(void* dialog, void* context) {
    auto* d = static_cast<Driver*>(context);
    auto* window = static_cast<QDialog*>(dialog);
    auto* list = window->findChild<QComboBox*>("compressor");
    for (int i = 0; i < list->count(); ++i) d->entries << list->itemText(i);
    d->current = list->currentText();
    d->fixedSize = window->minimumSize() == window->maximumSize() && window->minimumSize() == window->size();
    if (!d->compressor.isEmpty()) list->setCurrentIndex(list->findText(d->compressor));
    d->qualityEnabled = window->findChild<QSlider*>("quality")->isEnabled();
    d->keyFramesEnabled = window->findChild<QCheckBox*>("keyFrames")->isEnabled();
    d->dataRateEnabled = window->findChild<QCheckBox*>("dataRate")->isEnabled();
    if (d->quality >= 0) window->findChild<QSlider*>("quality")->setValue(d->quality);
    window->findChild<QCheckBox*>("keyFrames")->setChecked(d->keyFrameEvery > 0);
    if (d->keyFrameEvery > 0) window->findChild<QSpinBox*>("keyFrameEvery")->setValue(d->keyFrameEvery);
    window->findChild<QCheckBox*>("dataRate")->setChecked(d->kilobytes > 0);
    if (d->kilobytes > 0) window->findChild<QSpinBox*>("kilobytesPerSecond")->setValue(d->kilobytes);
    d->confirm ? window->accept() : window->reject();
}

class OptionsDialog : public ::testing::Test {
protected:
    void TearDown() override {
        SetOptionsDialogDriver(nullptr, nullptr);
        appState.media.destination = DestinationMedia{};
    }
    bool Run(Driver& driver, AVICOMPRESSOPTIONS& options, std::uint32_t flags = bothChoices) {
        SetOptionsDialogDriver(Drive, &driver);
        AVICOMPRESSOPTIONS* list[] = {&options};
        return PresentOptionsDialog(nullptr, nullptr, flags, 1, nullptr, list);
    }
};

TEST_F(OptionsDialog, ListsTheCompressorsAndOpensOnTheCurrentChoice) {
    AVICOMPRESSOPTIONS options = DefaultCompressOptions();
    options.fccHandler = mmioFOURCC('X', 'V', 'I', 'D');  // FMP4's alias
    Driver driver;
    driver.confirm = false;
    AVICOMPRESSOPTIONS before = options;
    EXPECT_FALSE(Run(driver, options));
    EXPECT_EQ(std::memcmp(&before, &options, sizeof options), 0);  // Cancel changes nothing
    std::vector<AviCompressorInfo> compressors = AviListCompressors();
    ASSERT_EQ(driver.entries.size(), static_cast<int>(compressors.size()));
    for (std::size_t i = 0; i < compressors.size(); ++i) {
        const QString& entry = driver.entries[static_cast<int>(i)];
        EXPECT_TRUE(entry.startsWith(compressors[i].name));
        // The code once, at the end.
        QString code = QString::fromLatin1(reinterpret_cast<const char*>(&compressors[i].fccHandler), 4).trimmed();
        EXPECT_TRUE(entry.endsWith("(" + code + ")")) << entry.toStdString();
        EXPECT_EQ(entry.count("(" + code + ")"), 1) << entry.toStdString();
    }
    EXPECT_EQ(driver.entries.value(0), "Uncompressed (DIB)");
    EXPECT_TRUE(driver.fixedSize);  // not resizable
    EXPECT_TRUE(driver.current.startsWith("MPEG-4 Part 2")) << driver.current.toStdString();
}

TEST_F(OptionsDialog, OffersOnlyWhatTakesTheRunsVideo) {
    AviCompressorInfo dv;
    if (!AviFindCompressor(mmioFOURCC('d', 'v', 's', 'd'), &dv)) GTEST_SKIP() << "no DV encoder here";
    struct Case {
        std::int32_t width, height;
        std::uint32_t rate, scale;
        bool dvOffered;
    } cases[] = {{720, 576, 25, 1, true}, {720, 576, 30000, 1001, false}, {640, 480, 30000, 1001, false}};
    for (const Case& c : cases) {
        DestinationMedia& destination = appState.media.destination;
        destination.frameFormat.header.biWidth = c.width;
        destination.frameFormat.header.biHeight = c.height;
        destination.videoRate = c.rate;
        destination.videoScale = c.scale;
        AVICOMPRESSOPTIONS options = DefaultCompressOptions();
        options.fccHandler = dv.fccHandler;
        Driver driver;
        driver.confirm = false;
        Run(driver, options);
        const bool offered = driver.entries.filter(QString::fromLatin1(dv.name)).size() == 1;
        EXPECT_EQ(offered, c.dvOffered) << c.width << "x" << c.height << " at " << c.rate << "/" << c.scale;
        // A stored choice that isn't offered opens on the first entry.
        if (!c.dvOffered) {
            EXPECT_EQ(driver.current, driver.entries.value(0));
        }
        EXPECT_GT(driver.entries.size(), 1);
    }
}

// A destination in WebM lists only what WebM takes, and opens on VP9.
TEST_F(OptionsDialog, OffersOnlyWhatTheDestinationsContainerTakes) {
    std::snprintf(appState.settings.destinationPath, sizeof appState.settings.destinationPath, "/tmp/clip.webm");
    DestinationMedia& destination = appState.media.destination;
    destination.frameFormat.header.biWidth = 160;
    destination.frameFormat.header.biHeight = 120;
    destination.videoRate = 25;
    AVICOMPRESSOPTIONS options = DefaultCompressOptions();
    options.fccHandler = mmioFOURCC('V', 'P', '9', '0');
    Driver driver;
    driver.confirm = false;
    Run(driver, options);
    appState.settings.destinationPath[0] = 0;
    QStringList expected;
    for (const AviCompressorInfo& c : ListOutputCompressors(OutputContainer::webm)) expected << c.name;
    ASSERT_EQ(driver.entries.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) EXPECT_TRUE(driver.entries[i].startsWith(expected[i]));
    EXPECT_TRUE(driver.entries.filter("H.264").isEmpty());
    EXPECT_TRUE(driver.current.startsWith("VP9")) << driver.current.toStdString();
}

TEST_F(OptionsDialog, GreysWhatTheCompressorOrTheCallerCantUse) {
    struct Case {
        std::uint32_t fcc;
        std::uint32_t flags;
        bool quality, keyFrames, dataRate;
    };
    const Case cases[] = {
        {mmioFOURCC('D', 'I', 'B', ' '), bothChoices, false, false, false},
        {mmioFOURCC('M', 'J', 'P', 'G'), bothChoices, true, false, true},
        {mmioFOURCC('H', '2', '6', '4'), bothChoices, true, true, true},
        {mmioFOURCC('H', '2', '6', '4'), 0, true, false, false},
        {mmioFOURCC('C', 'V', 'I', 'D'), bothChoices, false, true, false},
    };
    for (const Case& c : cases) {
        AVICOMPRESSOPTIONS options = DefaultCompressOptions();
        options.fccHandler = c.fcc;
        Driver driver;
        driver.confirm = false;
        Run(driver, options, c.flags);
        std::string entry = driver.current.toStdString();
        EXPECT_EQ(driver.qualityEnabled, c.quality) << entry;
        EXPECT_EQ(driver.keyFramesEnabled, c.keyFrames) << entry << " flags " << c.flags;
        EXPECT_EQ(driver.dataRateEnabled, c.dataRate) << entry;
    }
}

TEST_F(OptionsDialog, FillsTheRecordAsTheCommandLineDoes) {
    AVICOMPRESSOPTIONS gui = DefaultCompressOptions();
    Driver driver;
    driver.compressor = "H.264 (x264) (H264)";
    driver.quality = 7300;
    driver.keyFrameEvery = 12;
    driver.kilobytes = 500;
    ASSERT_TRUE(Run(driver, gui));

    AVICOMPRESSOPTIONS cli = DefaultCompressOptions();
    AviOptionsChoice choice;
    choice.fccHandler = mmioFOURCC('H', '2', '6', '4');
    choice.quality = 7300;
    choice.keyFrameEvery = 12;
    choice.bytesPerSecond = 500 * 1024;
    AviOptionsPresenter presenter = AviChoicePresenter(&choice);
    AVICOMPRESSOPTIONS* list[] = {&cli};
    ASSERT_TRUE(presenter.present(presenter.context, nullptr, bothChoices, 1, nullptr, list));
    EXPECT_EQ(std::memcmp(&gui, &cli, sizeof gui), 0);
    EXPECT_EQ(gui.dwFlags & (AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE | AVICOMPRESSF_VALID),
              AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE | AVICOMPRESSF_VALID);

    // Unticked: no regular key frames and no data rate, as 0 means on the command line.
    driver.keyFrameEvery = 0;
    driver.kilobytes = 0;
    ASSERT_TRUE(Run(driver, gui));
    EXPECT_EQ(gui.dwKeyFrameEvery, 0u);
    EXPECT_EQ(gui.dwBytesPerSecond, 0u);
    EXPECT_EQ(gui.dwFlags & (AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE), 0u);
}

}  // namespace
