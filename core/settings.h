#pragma once
// The user's conversion choices and their persistence in the settings store.
// Shared by both front ends, the job and the media layer; no Qt here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/compressoptions.h"
#include "core/user_calls.h"
#include "platform/mmsystem.h"
#include "platform/wintypes.h"

enum class InterpolationMethod : std::int32_t {
    Coarse,
    Linear,
    Sine,
    Cubic,
    Lanczos,
    Lansin1,
    Lansin2,
    Lansin3,
    Median3,
    Median5,
    Motion
};
enum class DeinterlaceMode : std::int32_t { Disabled, BothTopFirst, BothBottomFirst, OddFields, EvenFields };
enum class InterlaceResampleMethod : std::int32_t {
    InterlacedTopFirst,
    InterlacedBottomFirst,
    Coarse,
    Linear,
    Sine,
    Cubic,
    Lanczos
};
enum class AspectPreset : std::int32_t {
    Square,
    Tv4x3,
    Tv4x3Pal,
    Tv4x3PalHalf,
    Tv4x3Ntsc,
    Tv4x3NtscHalf,
    Wide16x9,
    Wide16x9Pal,
    Wide16x9PalHalf,
    Wide16x9Ntsc,
    Wide16x9NtscHalf,
    Scope235,
    Scope235Pal,
    Scope235PalHalf,
    Scope235Ntsc,
    Scope235NtscHalf,
    Custom
};
enum class LetterboxMode : std::int32_t {
    None,       // neither option ticked
    FrameKept,  // the frame keeps the source height, the image is resized inside it
    ImageKept   // the frame is resized, the image keeps the source height inside it
};

inline constexpr int interpolationMethodCount = 11;
inline constexpr int deinterlaceModeCount = 5;
inline constexpr int interlaceResampleMethodCount = 7;
inline constexpr int aspectPresetCount = 17;
inline constexpr int letterboxModeCount = 3;

// The labels the main dialog shows, or nullptr for a value outside the
// enumeration. LetterboxMode::None has no control and so no label. The
// methods' labels are in their table (job/methods.h).
const char* DeinterlaceModeLabel(DeinterlaceMode mode);
const char* InterlaceResampleMethodLabel(InterlaceResampleMethod method);
const char* AspectPresetLabel(AspectPreset preset);
const char* LetterboxModeLabel(LetterboxMode mode);

// The compression options record (AVICOMPRESSOPTIONS) and the stream types
// are the AVI services' own.

inline constexpr int maxPathChars = 260;

struct ConversionSettings {
    // Persisted, in the order they are read and written.
    double dstRate;
    double srcSpeed;
    InterpolationMethod intMethod;
    double intRange;
    DeinterlaceMode deint;
    InterlaceResampleMethod deintRes;
    std::int32_t segment;
    AspectPreset aspect;
    LetterboxMode letterbox;
    std::int32_t intDup;
    std::int32_t intDupThr;
    AVICOMPRESSOPTIONS pOptions;
    std::int32_t cutAware;  // 1: every method takes the nearer frame whole across a cut
    // For this run of the program only.
    char sourcePath[maxPathChars + 1];
    char destinationPath[maxPathChars + 1];
    std::int32_t outputHeight;
    // A destination rate given as a fraction (rate, scale) whose value is
    // dstRate; {0, 0}: dstRate as a decimal (core/frame_rate.h). Never stored.
    std::uint32_t dstRateFraction[2];
};

// The options a first run starts with: uncompressed "DIB " frames, quality
// 10000, a key frame every 30 frames.
AVICOMPRESSOPTIONS DefaultCompressOptions();

// A record with every persisted field at its default, empty paths and output height 1.
ConversionSettings DefaultSettings();

// The key under HKEY_LOCAL_MACHINE that holds the persisted fields.
inline constexpr char settingsKey[] = "Software\\Norvane Software\\Tavrick";

// Fills the twelve persisted fields from the settings key, creating the key on a
// first run; a value that is missing or doesn't fit its field gives that field its
// default. When the key can neither be opened nor created: message 122 and
// EndProcess(255), both through user; returns false if the end returns.
bool LoadSettings(const UserCalls& user, ConversionSettings& settings);

// Writes the twelve persisted fields, owner owning a failure message. The first
// value that can't be written stops the sequence (those before it stay written):
// message 124 and EndProcess(255); a key that can't be opened: message 122 and
// EndProcess(255). Both go through user; returns false if the end returns.
bool SaveSettings(const UserCalls& user, HWND owner, const ConversionSettings& settings);

// One persisted field that held a value the main dialog can never produce
// (a hand-edited store) and was put back to its default: the field's name and
// both values as text.
struct SettingCorrection {
    const char* field;
    std::string was;
    std::string now;
};

// Brings every persisted field the run or the dialog reads into the range the
// dialog gives it: rates and speeds that are not numbers or lie outside the
// dialog's bounds, and list choices outside their list, take their default;
// the two check boxes become 0 or 1. Returns what changed, in field order.
std::vector<SettingCorrection> BringSettingsIntoRange(ConversionSettings& settings);
// "<field> <was> is out of range; using <now>"
std::string SettingCorrectionText(const SettingCorrection& correction);

// Removes the settings key, if there is one; the next LoadSettings starts from
// the defaults. Shows nothing and reports nothing: an absent key is no failure.
void DeleteSettings();
