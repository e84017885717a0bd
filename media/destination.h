// Creating one destination file (or output segment): the overwrite question,
// the compressor choice, the video and audio streams and the audio chunking.
#pragma once

#include <string>

#include "core/frame_rate.h"
#include "core/run_result.h"
#include "core/user_calls.h"
#include "media/media_state.h"
#include "media/vfw/saveoptions.h"
#include "platform/wintypes.h"

// The rate rule of the destination's stream header: a fraction as given
// (reduced); whole decimal rates as n/1, others as trunc(rate x 1000)/1000.
void DestinationRate(const FrameRate& outputRate, std::uint32_t* dwRate, std::uint32_t* dwScale);

// The audio chunk rhythm of a destination, from the interleave interval in
// milliseconds and the source's audio format.
struct AudioChunking {
    std::uint32_t framesPerAudioChunk;
    double samplesPerAudioChunk;
    std::uint64_t audioChunkBytes;
};
// Compressed sound (info given, format not PCM) counts in the stream's own
// units, chunks or blocks, at dwRate / dwScale, and a chunk's buffer holds
// the largest of them.
AudioChunking ComputeAudioChunking(std::uint32_t interleaveMs, const FrameRate& outputRate, const WAVEFORMATEX& format,
                                   const AVISTREAMINFOA* info = nullptr);

// Whether anything (a file, a link, a folder) has this name.
bool FileExists(const char* path);
// Whether an output may take this existing name: a regular file (or a link
// to one) may be replaced; a folder, a FIFO or a device never is. Otherwise
// *what says what it is ("a folder").
bool IsReplaceable(const char* path, const char** what = nullptr);
// Deletes an existing replaceable file that no other reader or writer holds
// open; otherwise *cause (when given) says why not, in words.
bool DeleteFileUnlessHeld(const char* path, std::string* cause = nullptr);

// Whom creating a destination asks, and the window that owns the questions.
struct DestinationPrompts {
    UserCalls user;                 // the overwrite question
    AviOptionsPresenter options{};  // the compression options; present null: they stand as they are
    HWND owner = nullptr;
};

// "<name>" already exists. Overwrite it? Yes: true.
bool AskOverwrite(const DestinationPrompts& prompts, const char* path);

// Creates the destination at `path` for frames of the source's width and
// `outputHeight` rows at `outputRate`, the source's picture taking
// `pictureRows` of them (0: all). The first file of a run
// (continuation false) shows the compression options for `options` and sizes
// the audio chunks; segments reuse both. Requires an open source and no open
// destination. Returns destinationCreated or one of the destination codes.
RunResult CreateDestination(MediaState& media, AVICOMPRESSOPTIONS& options, const DestinationPrompts& prompts,
                            const char* path, bool continuation, std::int32_t outputHeight, const FrameRate& outputRate,
                            std::int32_t pictureRows = 0);

// Writing to the destination, whichever backend holds it. A frame at
// `position` of the current file, key asking for a key frame there; PCM
// samples appended at `position`. *written: the bytes the file grew by (0
// where the container keeps its own accounts). `repeat`: the frame's bytes
// are those of the frame written before it (a destination that converts
// frames for its encoder then sends the last picture again).
bool WriteDestinationFrame(DestinationMedia& d, std::int32_t position, const std::uint8_t* frame, std::int32_t bytes,
                           bool key, bool repeat, std::int32_t* written);
bool WriteDestinationAudio(DestinationMedia& d, std::int32_t position, std::int32_t samples, const std::uint8_t* buffer,
                           std::int32_t bytes, std::int32_t* written);
// Whether the sound goes over as the source stores it (packets, not
// samples); carrying writes what plays up to the end of the frames written.
bool DestinationCarriesStoredAudio(const DestinationMedia& d);
bool CarryDestinationAudio(DestinationMedia& d);
// Whether audio samples are written to this destination.
bool DestinationTakesAudio(const DestinationMedia& d);
// Whether the destination is split into segments at the size limit (AVI only).
bool DestinationSplits(const DestinationMedia& d);
// Whether telling a frame that repeats the last one saves the destination
// work (a conversion for its encoder).
bool DestinationUsesRepeats(const DestinationMedia& d);
// Writes what the destination still holds and its index; false with the cause
// in DestinationFailure.
bool CompleteDestination(DestinationMedia& d);
// The writer's words for the last failure; empty when there are none.
const char* DestinationFailure(const DestinationMedia& d);
