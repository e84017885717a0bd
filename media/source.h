// Admitting and opening the source, and the one close operation.
#pragma once

#include "media/media_state.h"

// Results of OpenSource.
enum SourceOpenResult {
    sourceOpened = 0,
    sourceCannotOpen = 1,      // message 106
    sourceNoVideo = 2,         // message 107
    sourceNoInfo = 3,          // message 108
    sourceUnsupported = 4,     // message 115
};

enum class SourceCheck { admitted, cannotOpen /* message 106 */, tooLarge /* message 104 */ };

// Largest source admitted: 2 GiB exactly.
constexpr std::uint64_t maxSourceBytes = 0x80000000u;

// The admission test run on a chosen path before it is opened.
SourceCheck CheckSourceFile(const char* path);
// The message id that reports a non-zero OpenSource result, or 0.
int SourceOpenMessage(int result);

// Opens the first video stream, its frame getter for 24-bit bottom-up frames
// and the first audio stream, if any. Requires that no source is open.
int OpenSource(MediaState& media, const char* path);

// keepSource false: the full close of source, destination and frame buffers,
// then deletePath (if given) is deleted. keepSource true: only the
// destination's streams and file are released. Safe to repeat.
void CloseMedia(MediaState& media, const char* deletePath, bool keepSource);
