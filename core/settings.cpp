#include "core/settings.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/messages.h"
#include "platform/registry.h"

namespace {

const char* const deinterlaceModeLabels[deinterlaceModeCount] = {
    "Disabled", "Both fields (top first)", "Both fields (bottom first)", "Only odd fields", "Only even fields"};
const char* const interlaceResampleMethodLabels[interlaceResampleMethodCount] = {
    "Interlaced (top first)", "Interlaced (bottom first)",
    "Coarse (fastest)",       "Linear (good)",
    "Sine (sharp)",           "Cubic (smooth)",
    "Lanczos (best)"};
const char* const aspectPresetLabels[aspectPresetCount] = {"1:1",
                                                           "4:3",
                                                           "4:3 PAL",
                                                           "4:3 PAL (half)",
                                                           "4:3 NTSC",
                                                           "4:3 NTSC (half)",
                                                           "16:9",
                                                           "16:9 PAL",
                                                           "16:9 PAL (half)",
                                                           "16:9 NTSC",
                                                           "16:9 NTSC (half)",
                                                           "2.35:1",
                                                           "2.35:1 PAL",
                                                           "2.35:1 PAL (half)",
                                                           "2.35:1 NTSC",
                                                           "2.35:1 NTSC (half)",
                                                           "Custom"};
const char* const letterboxModeLabels[letterboxModeCount] = {
    nullptr, "&Frame size remains original but the image is resized inside the frame",
    "Fr&ame is resized but the image size remains original inside the frame"};

template <typename Enum, int count>
const char* Label(const char* const (&labels)[count], Enum value) {
    auto index = static_cast<std::int32_t>(value);
    return index >= 0 && index < count ? labels[index] : nullptr;
}

// The persisted fields in the order they are read and written. Each is stored
// as its memory image; the doubles too are REG_DWORD, with 8 bytes, as stores
// written by earlier versions hold them.
struct PersistedField {
    const char* name;
    std::size_t offset;
    DWORD size;
    DWORD type;
};
#define FIELD(member, type) \
    { #member, offsetof(ConversionSettings, member), sizeof(ConversionSettings::member), type }
const PersistedField persistedFields[] = {
    FIELD(dstRate, REG_DWORD),   FIELD(srcSpeed, REG_DWORD), FIELD(intMethod, REG_DWORD), FIELD(intRange, REG_DWORD),
    FIELD(deint, REG_DWORD),     FIELD(deintRes, REG_DWORD), FIELD(segment, REG_DWORD),   FIELD(aspect, REG_DWORD),
    FIELD(letterbox, REG_DWORD), FIELD(intDup, REG_DWORD),   FIELD(intDupThr, REG_DWORD), FIELD(pOptions, REG_BINARY),
    FIELD(cutAware, REG_DWORD),
};
#undef FIELD
static_assert(sizeof(ConversionSettings::dstRate) == 8 && sizeof(ConversionSettings::intMethod) == 4);

constexpr REGSAM readWrite = KEY_READ | KEY_WRITE;

}  // namespace

const char* DeinterlaceModeLabel(DeinterlaceMode mode) { return Label(deinterlaceModeLabels, mode); }
const char* InterlaceResampleMethodLabel(InterlaceResampleMethod method) {
    return Label(interlaceResampleMethodLabels, method);
}
const char* AspectPresetLabel(AspectPreset preset) { return Label(aspectPresetLabels, preset); }
const char* LetterboxModeLabel(LetterboxMode mode) { return Label(letterboxModeLabels, mode); }

AVICOMPRESSOPTIONS DefaultCompressOptions() {
    AVICOMPRESSOPTIONS options;
    std::memset(&options, 0, sizeof options);
    options.fccType = streamtypeVIDEO;
    options.fccHandler = mmioStringToFOURCC("DIB", 0);
    options.dwKeyFrameEvery = 30;
    options.dwQuality = 10000;
    options.dwBytesPerSecond = 0;
    options.dwFlags = AVICOMPRESSF_INTERLEAVE | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    return options;
}

ConversionSettings DefaultSettings() {
    ConversionSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.dstRate = 25.0;
    settings.srcSpeed = 1.0;
    settings.intMethod = InterpolationMethod::Lansin2;
    settings.intRange = 1.0;
    settings.deint = DeinterlaceMode::BothBottomFirst;
    settings.deintRes = InterlaceResampleMethod::InterlacedBottomFirst;
    settings.segment = 1;
    settings.aspect = AspectPreset::Tv4x3Pal;
    settings.letterbox = LetterboxMode::None;
    settings.intDup = 0;
    settings.intDupThr = 5;
    settings.cutAware = 0;
    settings.pOptions = DefaultCompressOptions();
    settings.outputHeight = 1;
    return settings;
}

namespace {

std::string NumberText(double value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

void ReplaceDouble(std::vector<SettingCorrection>& out, const char* name, double& value, double fallback) {
    out.push_back({name, NumberText(value), NumberText(fallback)});
    value = fallback;
}

template <typename Enum>
void CorrectChoice(std::vector<SettingCorrection>& out, const char* name, Enum& value, int count, Enum fallback) {
    const auto index = static_cast<std::int32_t>(value);
    if (index >= 0 && index < count) return;
    out.push_back({name, std::to_string(index), std::to_string(static_cast<std::int32_t>(fallback))});
    value = fallback;
}

void CorrectFlag(std::vector<SettingCorrection>& out, const char* name, std::int32_t& value) {
    // The run reads any other number as ticked; the box stores 1.
    if (value == 0 || value == 1) return;
    out.push_back({name, std::to_string(value), "1"});
    value = 1;
}

}  // namespace

std::vector<SettingCorrection> BringSettingsIntoRange(ConversionSettings& s) {
    const ConversionSettings d = DefaultSettings();
    std::vector<SettingCorrection> out;
    // Written so that NaN fails each test. A rate or speed outside the
    // dialog's bounds tells nothing of what was meant, so it takes the default
    // rather than the nearest bound.
    if (!(s.dstRate >= 0.001 && s.dstRate <= 32767)) ReplaceDouble(out, "dstRate", s.dstRate, d.dstRate);
    if (!(s.srcSpeed >= 0.00001 && s.srcSpeed <= 327.67)) ReplaceDouble(out, "srcSpeed", s.srcSpeed, d.srcSpeed);
    CorrectChoice(out, "intMethod", s.intMethod, interpolationMethodCount, d.intMethod);
    // Any typed whole percent is taken, so only what no typing gives is out.
    if (!(s.intRange >= 0 && std::isfinite(s.intRange))) ReplaceDouble(out, "intRange", s.intRange, d.intRange);
    CorrectChoice(out, "deint", s.deint, deinterlaceModeCount, d.deint);
    CorrectChoice(out, "deintRes", s.deintRes, interlaceResampleMethodCount, d.deintRes);
    CorrectFlag(out, "segment", s.segment);
    CorrectChoice(out, "aspect", s.aspect, aspectPresetCount, d.aspect);
    CorrectChoice(out, "letterbox", s.letterbox, letterboxModeCount, d.letterbox);
    CorrectFlag(out, "intDup", s.intDup);
    CorrectFlag(out, "cutAware", s.cutAware);
    if (s.intDupThr < 0) {
        out.push_back({"intDupThr", std::to_string(s.intDupThr), std::to_string(d.intDupThr)});
        s.intDupThr = d.intDupThr;
    }
    return out;
}

std::string SettingCorrectionText(const SettingCorrection& c) {
    return std::string(c.field) + " " + c.was + " is out of range; using " + c.now;
}

bool LoadSettings(const UserCalls& user, ConversionSettings& settings) {
    HKEY key = nullptr;
    // Loading only reads: a store this user may read but not write still
    // gives its settings (a run that doesn't save never needs more).
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS &&
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, settingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, readWrite, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        ShowMessage(user, nullptr, IDS_CAPTION, IDS_CANNOT_OPEN_KEY, MB_ICONERROR);
        EndProcess(user, 255);
        return false;
    }
    const ConversionSettings defaults = DefaultSettings();
    auto* fields = reinterpret_cast<BYTE*>(&settings);
    auto* defaultFields = reinterpret_cast<const BYTE*>(&defaults);
    for (const PersistedField& field : persistedFields) {
        // The stored type is not checked: a value of the right size is the
        // field's memory image whatever type it was written with. A shorter one
        // is not, and counts as missing like one that is absent or too large.
        BYTE value[sizeof(AVICOMPRESSOPTIONS)];
        DWORD size = field.size;
        if (RegQueryValueExA(key, field.name, nullptr, nullptr, value, &size) == ERROR_SUCCESS && size == field.size)
            std::memcpy(fields + field.offset, value, field.size);
        else
            std::memcpy(fields + field.offset, defaultFields + field.offset, field.size);
    }
    // Whatever the slots held, no address survives from one run to the next.
    settings.pOptions.lpFormat = 0;
    settings.pOptions.lpParms = 0;
    RegCloseKey(key);
    return true;
}

bool SaveSettings(const UserCalls& user, HWND owner, const ConversionSettings& settings) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, settingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, readWrite, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        ShowMessage(user, owner, IDS_CAPTION, IDS_CANNOT_OPEN_KEY, MB_ICONERROR);
        EndProcess(user, 255);
        return false;
    }
    ConversionSettings stored = settings;
    stored.pOptions.lpFormat = 0;
    stored.pOptions.lpParms = 0;
    const auto* fields = reinterpret_cast<const BYTE*>(&stored);
    for (const PersistedField& field : persistedFields) {
        if (RegSetValueExA(key, field.name, 0, field.type, fields + field.offset, field.size) != ERROR_SUCCESS) {
            RegCloseKey(key);
            ShowMessage(user, owner, IDS_CAPTION, IDS_CANNOT_SAVE_VALUE, MB_ICONERROR);
            EndProcess(user, 255);
            return false;
        }
    }
    RegCloseKey(key);
    return true;
}

void DeleteSettings() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, settingsKey); }
