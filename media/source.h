// Admitting and opening the source, reading it, and the one close operation.
#pragma once

#include <string>

#include "core/run_result.h"
#include "media/media_state.h"

enum class SourceCheck { admitted, cannotOpen /* message 106 */, tooLarge /* message 104 */ };

// Largest AVI source admitted: 2 GiB exactly.
constexpr std::uint64_t maxSourceBytes = 0x80000000u;

// The admission test run on a chosen path before it is opened.
SourceCheck CheckSourceFile(const char* path);

// How a source is read beyond what the file says.
struct SourceOptions {
    // The grid the pictures are read on, frames per second as num / den;
    // num 0: the video stream's average rate.
    std::uint32_t rateNum = 0, rateDen = 1;
    int audioStream = 0;  // which audio stream, counted from 0
    bool noAudio = false;
    // The audio as 16-bit PCM whatever the file stores (decoded otherwise),
    // as destinations outside AVI take it.
    bool audio16Bit = false;
};

// Opens the video and the chosen audio stream, if any. An AVI file goes
// through the AVI services; what they refuse and every other container goes
// through libavformat, and audio the AVI services can't carry is decoded to
// 16-bit PCM. Requires that no source is open. Returns sourceOpened or one
// of sourceCannotOpen..sourceUnsupported, with source.failureDetail set
// when there is a cause to tell.
RunResult OpenSource(MediaState& media, const char* path, const SourceOptions& options = {});

// The picture at frame position `index` (0: the stream's first) as
// frameFormat describes it: BGR, rows padded to 4 bytes, last row first.
// Null when that picture can't be decoded. Valid until the next call.
const std::uint8_t* SourcePicture(SourceMedia& source, std::int64_t index);

// Reads audio as AVIStreamRead does, positions and counts in the stream's
// samples (audioInfo.dwStart included): samples stored as PCM, else the
// stream's stored units. False when nothing can be read there.
bool ReadSourceAudio(SourceMedia& source, std::int32_t start, std::int32_t count, void* buffer,
                     std::int32_t bufferBytes, std::int32_t* bytes, std::int32_t* samples);

// The chosen audio stream's packets as the file stores them, read apart from
// the pictures and the decoded sound, for a destination that carries them
// unchanged; their times count from the first picture, as the decoded
// sound's samples do. Null with *why when they can't be read.
struct LavAudioPackets;
LavAudioPackets* OpenSourceAudioPackets(const SourceMedia& source, std::string* why);

// Sound stored as samples (PCM, integer or float) is read and written by
// the sample; any other format is carried over as it was stored, in whole
// chunks or whole blocks.
bool IsPcmAudio(const WAVEFORMATEX& format);

// keepSource false: the full close of source, destination and frame buffers,
// then deletePath (if given) is deleted. keepSource true: only the
// destination's streams and file are released. Safe to repeat.
void CloseMedia(MediaState& media, const char* deletePath, bool keepSource);
