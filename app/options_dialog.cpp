#include "app/options_dialog.h"

#include <algorithm>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include "app/app_state.h"
#include "platform/ui/ui_thread.h"

namespace {

OptionsDialogDriver driver = nullptr;
void* driverContext = nullptr;

QString CodeText(std::uint32_t fcc) {
    QString code;
    for (int i = 0; i < 4; ++i) code += QChar(static_cast<char>((fcc >> (8 * i)) & 0xFF));
    return code;
}

}  // namespace

OptionsChoice ChoiceFromOptions(const AVICOMPRESSOPTIONS& options) {
    OptionsChoice choice;
    AviCompressorInfo info{};
    choice.fccHandler =
        FindOutputCompressor(options.fccHandler, &info) ? info.fccHandler : AviListCompressors()[0].fccHandler;
    choice.quality = options.dwQuality <= 10000 ? options.dwQuality : 10000;
    choice.keyFrames = (options.dwFlags & AVICOMPRESSF_KEYFRAMES) && options.dwKeyFrameEvery > 0;
    choice.keyFrameEvery = options.dwKeyFrameEvery;
    choice.dataRate = (options.dwFlags & AVICOMPRESSF_DATARATE) && options.dwBytesPerSecond > 0;
    choice.kilobytesPerSecond = options.dwBytesPerSecond / 1024;
    return choice;
}

void ApplyChoice(const OptionsChoice& choice, const AviCompressorInfo& compressor, std::uint32_t flags,
                 AVICOMPRESSOPTIONS& options) {
    options.fccType = streamtypeVIDEO;
    options.fccHandler = compressor.fccHandler;
    if (compressor.quality) options.dwQuality = std::min<std::uint32_t>(choice.quality, 10000);
    if (compressor.keyFrames && (flags & ICMF_CHOOSE_KEYFRAME)) {
        options.dwKeyFrameEvery = choice.keyFrames ? choice.keyFrameEvery : 0;
        options.dwFlags = options.dwKeyFrameEvery ? options.dwFlags | AVICOMPRESSF_KEYFRAMES
                                                  : options.dwFlags & ~AVICOMPRESSF_KEYFRAMES;
    }
    if (compressor.dataRate && (flags & ICMF_CHOOSE_DATARATE)) {
        options.dwBytesPerSecond = choice.dataRate ? choice.kilobytesPerSecond * 1024 : 0;
        options.dwFlags = options.dwBytesPerSecond ? options.dwFlags | AVICOMPRESSF_DATARATE
                                                   : options.dwFlags & ~AVICOMPRESSF_DATARATE;
    }
    options.dwFlags |= AVICOMPRESSF_VALID;
}

bool RunOptionsDialog(void* owner, std::uint32_t flags, AVICOMPRESSOPTIONS& options, const OptionsTarget* target) {
    std::vector<AviCompressorInfo> compressors =
        ListOutputCompressors(target ? target->container : OutputContainer::avi);
    // What would refuse the run's video is not offered: DV outside its two
    // systems, encoders that need even or multiple-of-four sizes.
    if (target && target->container == OutputContainer::avi)
        std::erase_if(compressors, [target](const AviCompressorInfo& c) {
            return !AviCompressorRefusal(c.fccHandler, target->width, target->height, target->rate, target->scale)
                        .empty();
        });
    OptionsChoice choice = ChoiceFromOptions(options);

    QDialog dialog(static_cast<QWidget*>(owner));
    dialog.setObjectName("compressionOptions");
    dialog.setWindowTitle("Video Compression");
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    auto* grid = new QGridLayout(&dialog);
    grid->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog, as the platform's own

    auto* list = new QComboBox(&dialog);
    list->setObjectName("compressor");
    for (const AviCompressorInfo& c : compressors) {
        // The code after the name, unless the name ends with it already ("Uncompressed (DIB)").
        QString name = QString::fromLatin1(c.name);
        QString code = QString("(%1)").arg(CodeText(c.fccHandler).trimmed());
        list->addItem(name.endsWith(code) ? name : QString("%1 %2").arg(name, code));
    }
    auto chosen = std::find_if(compressors.begin(), compressors.end(),
                               [&](const AviCompressorInfo& c) { return c.fccHandler == choice.fccHandler; });
    list->setCurrentIndex(chosen == compressors.end() ? 0 : static_cast<int>(chosen - compressors.begin()));
    auto* listLabel = new QLabel("&Compressor:", &dialog);
    listLabel->setBuddy(list);
    grid->addWidget(listLabel, 0, 0);
    grid->addWidget(list, 0, 1, 1, 3);

    auto* qualityLabel = new QLabel("Compression &quality:", &dialog);
    auto* quality = new QSlider(Qt::Horizontal, &dialog);
    quality->setObjectName("quality");
    quality->setRange(0, 10000);
    quality->setSingleStep(100);
    quality->setPageStep(1000);
    quality->setValue(static_cast<int>(choice.quality));
    auto* qualityNumber = new QLabel(QString::number(choice.quality), &dialog);
    qualityNumber->setObjectName("qualityNumber");
    qualityNumber->setMinimumWidth(qualityNumber->fontMetrics().horizontalAdvance("10000 "));
    QObject::connect(quality, &QSlider::valueChanged, qualityNumber,
                     [qualityNumber](int value) { qualityNumber->setText(QString::number(value)); });
    qualityLabel->setBuddy(quality);
    grid->addWidget(qualityLabel, 1, 0);
    grid->addWidget(quality, 1, 1, 1, 2);
    grid->addWidget(qualityNumber, 1, 3);

    auto* keyFrames = new QCheckBox("&Key frame every", &dialog);
    keyFrames->setObjectName("keyFrames");
    keyFrames->setChecked(choice.keyFrames);
    auto* keyFrameEvery = new QSpinBox(&dialog);
    keyFrameEvery->setObjectName("keyFrameEvery");
    keyFrameEvery->setRange(1, 100000);
    keyFrameEvery->setValue(
        static_cast<int>(std::max<std::uint32_t>(1, std::min<std::uint32_t>(choice.keyFrameEvery, 100000))));
    grid->addWidget(keyFrames, 2, 0);
    grid->addWidget(keyFrameEvery, 2, 1);
    grid->addWidget(new QLabel("frames", &dialog), 2, 2);

    auto* dataRate = new QCheckBox("&Data rate", &dialog);
    dataRate->setObjectName("dataRate");
    dataRate->setChecked(choice.dataRate);
    auto* kilobytes = new QSpinBox(&dialog);
    kilobytes->setObjectName("kilobytesPerSecond");
    kilobytes->setRange(1, 4000000);
    kilobytes->setValue(
        static_cast<int>(std::max<std::uint32_t>(1, std::min<std::uint32_t>(choice.kilobytesPerSecond, 4000000))));
    grid->addWidget(dataRate, 3, 0);
    grid->addWidget(kilobytes, 3, 1);
    grid->addWidget(new QLabel("KB/sec", &dialog), 3, 2);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    grid->addWidget(buttons, 4, 0, 1, 4);

    // Grey what the chosen compressor, or the caller, doesn't offer.
    auto update = [&, list, quality, qualityLabel, qualityNumber, keyFrames, keyFrameEvery, dataRate, kilobytes] {
        const AviCompressorInfo& c = compressors[std::max(0, list->currentIndex())];
        for (QWidget* w : {static_cast<QWidget*>(quality), static_cast<QWidget*>(qualityLabel),
                           static_cast<QWidget*>(qualityNumber)})
            w->setEnabled(c.quality);
        bool canKey = c.keyFrames && (flags & ICMF_CHOOSE_KEYFRAME);
        keyFrames->setEnabled(canKey);
        keyFrameEvery->setEnabled(canKey && keyFrames->isChecked());
        bool canRate = c.dataRate && (flags & ICMF_CHOOSE_DATARATE);
        dataRate->setEnabled(canRate);
        kilobytes->setEnabled(canRate && dataRate->isChecked());
    };
    QObject::connect(list, &QComboBox::currentIndexChanged, &dialog, update);
    QObject::connect(keyFrames, &QCheckBox::toggled, &dialog, update);
    QObject::connect(dataRate, &QCheckBox::toggled, &dialog, update);
    update();

    if (driver) {
        OptionsDialogDriver drive = driver;
        void* context = driverContext;
        QTimer::singleShot(0, &dialog, [drive, context, &dialog] { drive(&dialog, context); });
    }
    if (dialog.exec() != QDialog::Accepted) return false;
    choice.quality = static_cast<std::uint32_t>(quality->value());
    choice.keyFrames = keyFrames->isChecked();
    choice.keyFrameEvery = static_cast<std::uint32_t>(keyFrameEvery->value());
    choice.dataRate = dataRate->isChecked();
    choice.kilobytesPerSecond = static_cast<std::uint32_t>(kilobytes->value());
    ApplyChoice(choice, compressors[std::max(0, list->currentIndex())], flags, options);
    return true;
}

bool PresentOptionsDialog(void*, void* owner, std::uint32_t flags, std::int32_t streams, PAVISTREAM*,
                          AVICOMPRESSOPTIONS** options) {
    if (streams < 1 || !options || !options[0]) return false;
    AVICOMPRESSOPTIONS& record = *options[0];
    const DestinationMedia& destination = appState.media.destination;
    OptionsTarget target;
    target.width = destination.frameFormat.header.biWidth;
    target.height = destination.frameFormat.header.biHeight;
    target.rate = destination.videoRate;
    target.scale = destination.videoScale;
    target.container = OutputContainerOf(appState.settings.destinationPath);
    const OptionsTarget* known = target.rate ? &target : nullptr;
    return CallOnUiThread([&] { return RunOptionsDialog(owner, flags, record, known); });
}

void SetOptionsDialogDriver(OptionsDialogDriver drive, void* context) {
    driver = drive;
    driverContext = context;
}
