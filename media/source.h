// Admitting and opening the source, and the one close operation.
#pragma once

#include "core/run_result.h"
#include "media/media_state.h"

enum class SourceCheck { admitted, cannotOpen /* message 106 */, tooLarge /* message 104 */ };

// Largest source admitted: 2 GiB exactly.
constexpr std::uint64_t maxSourceBytes = 0x80000000u;

// The admission test run on a chosen path before it is opened.
SourceCheck CheckSourceFile(const char* path);
// Opens the first video stream, its frame getter for 24-bit bottom-up frames
// and the first audio stream, if any. Requires that no source is open.
// Returns sourceOpened or one of sourceCannotOpen..sourceUnsupported.
RunResult OpenSource(MediaState& media, const char* path);

// Sound stored as samples (PCM, integer or float) is read and written by
// the sample; any other format is carried over as it was stored, in whole
// chunks or whole blocks.
bool IsPcmAudio(const WAVEFORMATEX& format);

// keepSource false: the full close of source, destination and frame buffers,
// then deletePath (if given) is deleted. keepSource true: only the
// destination's streams and file are released. Safe to repeat.
void CloseMedia(MediaState& media, const char* deletePath, bool keepSource);
