#include "app/binding.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app_state.h"
#include "job/methods.h"
#include "job/source_info.h"
#include "media/lav/output_codecs.h"
#include "platform/ui/window.h"

namespace {

// The leading decimal number of a field; empty or not a number gives 0.
double DecimalOf(const char* text) { return std::strtod(text, nullptr); }

// A digits-only field's whole number. A number too large for the platform's
// integer reads as 0, as its own conversion does.
int WholeNumberOf(HWND dialog, int id) {
    char text[32];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || value > INT_MAX || value < INT_MIN) return 0;
    return static_cast<int>(value);
}

void SetNumber(HWND dialog, int id, long long value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", value);
    SetDlgItemTextA(dialog, id, text);
}

int RoundToInt(double value) {
    double rounded = std::floor(value + 0.5);
    return rounded >= INT_MAX ? INT_MAX : rounded <= INT_MIN ? INT_MIN : static_cast<int>(rounded);
}

// A list's selection; with nothing selected the setting keeps its value, so
// the job never sees -1.
template <class Enum>
void ReadList(HWND dialog, int id, Enum& field) {
    int index = GetListSelection(dialog, id);
    if (index >= 0) field = static_cast<Enum>(index);
}

}  // namespace

int CleanNumberText(char* text, int caret) {
    bool point = false;
    for (int i = 0; text[i] != '\0';) {
        char c = text[i];
        bool keep = (c >= '0' && c <= '9') || ((c == '.' || c == ',') && !point);
        if (keep) {
            if (c == '.' || c == ',') {
                text[i] = '.';
                point = true;
            }
            ++i;
            continue;
        }
        std::memmove(text + i, text + i + 1, std::strlen(text + i));
        if (caret > i) --caret;
    }
    std::size_t length = std::strlen(text);
    // A cleared field stays empty while the user types into it; rewriting it
    // as 0 would put the caret before a 0 that the next digits follow.
    if (length == 0) return -1;
    if (text[length - 1] == '.') return -1;
    const char* dot = std::strchr(text, '.');
    if (dot && dot[1] == '0') return -1;
    return caret;
}

std::string FormatDecimal(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == '0') text[--length] = '\0';
    if (length > 0 && (text[length - 1] == '.' || text[length - 1] == ',')) text[--length] = '\0';
    return text;
}

int ReadMainDialog(HWND dialog, int changedControl, int caret) {
    ConversionSettings& s = appState.settings;
    GetDlgItemTextA(dialog, IDC_SOURCE_PATH, s.sourcePath, sizeof s.sourcePath);
    GetDlgItemTextA(dialog, IDC_DESTINATION_PATH, s.destinationPath, sizeof s.destinationPath);

    char text[300];
    GetDlgItemTextA(dialog, IDC_RATE, text, sizeof text);
    if (changedControl == IDC_RATE) {
        caret = CleanNumberText(text, caret);
        if (caret == -1) return -1;
    }
    s.dstRate = DecimalOf(text);
    if (caret == -1) s.dstRate = std::clamp(s.dstRate, 0.001, 32767.0);

    GetDlgItemTextA(dialog, IDC_SPEED, text, sizeof text);
    if (changedControl == IDC_SPEED) {
        caret = CleanNumberText(text, caret);
        if (caret == -1) return -1;
    }
    s.srcSpeed = DecimalOf(text) * 0.01;
    if (caret == -1) s.srcSpeed = std::clamp(s.srcSpeed, 0.00001, 327.67);

    s.intRange = WholeNumberOf(dialog, IDC_RANGE) * 0.01;
    s.intDupThr = WholeNumberOf(dialog, IDC_THRESHOLD);
    s.segment = IsDlgButtonChecked(dialog, IDC_SEGMENT) ? 1 : 0;
    if (changedControl == IDC_LETTERBOX_IMAGE)
        s.letterbox = IsDlgButtonChecked(dialog, IDC_LETTERBOX_IMAGE) ? LetterboxMode::FrameKept : LetterboxMode::None;
    else if (changedControl == IDC_LETTERBOX_FRAME)
        s.letterbox = IsDlgButtonChecked(dialog, IDC_LETTERBOX_FRAME) ? LetterboxMode::ImageKept : LetterboxMode::None;
    s.intDup = IsDlgButtonChecked(dialog, IDC_DUPLICATES) ? 1 : 0;
    ReadList(dialog, IDC_METHOD, s.intMethod);
    ReadList(dialog, IDC_DEINTERLACE, s.deint);
    ReadList(dialog, IDC_RESAMPLE, s.deintRes);
    ReadList(dialog, IDC_ASPECT, s.aspect);
    if (s.aspect == AspectPreset::Custom) s.outputHeight = WholeNumberOf(dialog, IDC_HEIGHT);
    if (changedControl == 0) RefreshMainDialog(dialog, false);
    return caret;
}

void RefreshSourceInfo(HWND dialog) {
    const ConversionSettings& s = appState.settings;
    if (s.sourcePath[0] == '\0') {
        SetDlgItemTextA(dialog, IDC_VIDEO_INFO, emptyVideoInfoText);
        SetDlgItemTextA(dialog, IDC_AUDIO_INFO, emptyAudioInfoText);
        return;
    }
    const SourceMedia& source = appState.media.source;
    SetDlgItemTextA(dialog, IDC_VIDEO_INFO, VideoInfoText(source).c_str());
    SetDlgItemTextA(dialog, IDC_AUDIO_INFO, AudioInfoText(source).c_str());
    SetSpinRange(dialog, IDC_HEIGHT_SPIN, static_cast<std::int16_t>(source.fileInfo.dwHeight / 2), 32767);
}

void RefreshMainDialog(HWND dialog, bool full) {
    ConversionSettings& s = appState.settings;
    appState.editTrackingEnabled = 0;
    SetDlgItemTextA(dialog, IDC_SOURCE_PATH, s.sourcePath);
    SetDlgItemTextA(dialog, IDC_DESTINATION_PATH, s.destinationPath);
    if (full) RefreshSourceInfo(dialog);

    SetDlgItemTextA(dialog, IDC_RATE, FormatDecimal(s.dstRate).c_str());
    SetDlgItemTextA(dialog, IDC_SPEED, FormatDecimal(s.srcSpeed * 100).c_str());
    SetNumber(dialog, IDC_RANGE, RoundToInt(s.intRange * 100));

    bool haveSource = s.sourcePath[0] != '\0';
    if (haveSource) {
        const SourceMedia& source = appState.media.source;
        int height = AspectOutputHeight(static_cast<int>(s.aspect), source.fileInfo.dwWidth, source.fileInfo.dwHeight);
        if (height >= 0 && s.aspect != AspectPreset::Custom) s.outputHeight = height;
        s.outputHeight = std::clamp(s.outputHeight, 1, 32767);
        SetNumber(dialog, IDC_HEIGHT, s.outputHeight);
    }

    double ratePart = std::trunc(s.dstRate);
    SetSpinPos(dialog, IDC_RATE_SPIN,
               ratePart >= INT_MAX   ? INT_MAX
               : ratePart <= INT_MIN ? INT_MIN
                                     : static_cast<int>(ratePart));
    SetSpinPos(dialog, IDC_RANGE_SPIN, RoundToInt(s.intRange * 100));
    SetSpinPos(dialog, IDC_SPEED_SPIN, RoundToInt(s.srcSpeed * 100));
    SetSpinPos(dialog, IDC_HEIGHT_SPIN, s.outputHeight);
    SetSpinPos(dialog, IDC_THRESHOLD_SPIN, s.intDupThr);

    CheckDlgButton(dialog, IDC_SEGMENT, s.segment != 0);
    CheckDlgButton(dialog, IDC_LETTERBOX_IMAGE, s.letterbox == LetterboxMode::FrameKept);
    CheckDlgButton(dialog, IDC_LETTERBOX_FRAME, s.letterbox == LetterboxMode::ImageKept);
    CheckDlgButton(dialog, IDC_DUPLICATES, s.intDup != 0);

    SetListSelection(dialog, IDC_METHOD, static_cast<int>(s.intMethod));
    SetListSelection(dialog, IDC_DEINTERLACE, static_cast<int>(s.deint));
    SetListSelection(dialog, IDC_RESAMPLE, static_cast<int>(s.deintRes));
    SetListSelection(dialog, IDC_ASPECT, static_cast<int>(s.aspect));

    bool customHeight = haveSource && s.aspect == AspectPreset::Custom;
    EnableDlgItem(dialog, IDC_HEIGHT, customHeight);
    EnableDlgItem(dialog, IDC_HEIGHT_SPIN, customHeight);
    const MethodEntry* method = FindMethod(static_cast<int>(s.intMethod));
    bool blends = !method || method->usesRange;
    EnableDlgItem(dialog, IDC_RANGE, blends);
    EnableDlgItem(dialog, IDC_RANGE_SPIN, blends);
    EnableDlgItem(dialog, IDC_THRESHOLD, s.intDup != 0);
    EnableDlgItem(dialog, IDC_THRESHOLD_SPIN, s.intDup != 0);
    // Only AVI is split at 2 GB; the box keeps its stored state for the next AVI.
    EnableDlgItem(dialog, IDC_SEGMENT, OutputContainerOf(s.destinationPath) == OutputContainer::avi);
    appState.editTrackingEnabled = 1;
}

int GuardLoadedSettings(ConversionSettings& settings) {
    const ConversionSettings defaults = DefaultSettings();
    int replaced = 0;
    auto list = [&](auto& field, auto fallback, int count) {
        int value = static_cast<int>(field);
        if (value < 0 || value >= count) {
            field = fallback;
            ++replaced;
        }
    };
    list(settings.intMethod, defaults.intMethod, interpolationMethodCount);
    list(settings.deint, defaults.deint, deinterlaceModeCount);
    list(settings.deintRes, defaults.deintRes, interlaceResampleMethodCount);
    list(settings.aspect, defaults.aspect, aspectPresetCount);
    list(settings.letterbox, defaults.letterbox, letterboxModeCount);
    auto number = [&](double& field, double fallback) {
        if (!std::isfinite(field)) {
            field = fallback;
            ++replaced;
        }
    };
    number(settings.dstRate, defaults.dstRate);
    number(settings.srcSpeed, defaults.srcSpeed);
    number(settings.intRange, defaults.intRange);
    return replaced;
}
