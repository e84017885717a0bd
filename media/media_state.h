// The open source, the destination being written and the frame buffers of a
// run: everything the one close operation releases.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frames/kernels.h"
#include "media/lav/output_codecs.h"
#include "media/vfw/vfw.h"

// A frame format as it is requested and stored: the header and 4 zero bytes.
struct FrameFormat {
    BITMAPINFOHEADER header;
    std::uint8_t zero[4];
};
static_assert(sizeof(FrameFormat) == 44);

// What a source is beyond the AVI stream records: the container, the
// codecs, and how its timing and pictures were read.
struct SourceDescription {
    std::string container;  // "AVI" when the AVI services read it
    std::string videoCodec, audioCodec;
    bool variableRate = false;  // pictures unevenly spaced, read on the average rate's grid
    int rotation = 0;           // clockwise degrees applied to the pictures
    std::uint32_t sampleAspectNum = 0, sampleAspectDen = 1;  // 0: unknown
    bool interlaced = false;
    bool audioDecoded = false;  // the audio is decoded to 16-bit PCM, not carried as stored
    int audioSourceBits = 0, audioSourceChannels = 0;
    std::vector<std::string> streams;  // every stream of the file, one line each
    int audioStreams = 0;              // audio streams in the file
    int audioStream = 0;               // the one carried (0: the first)
    bool recoveredByScan = false;      // an unfinished or cut-off AVI whose chunks were found by a scan
};

// The backend that reads the source (the AVI services or libavformat);
// only media/ sees inside.
struct SourceReader;

// The open source as every layer above sees it, whatever its container:
// pictures by frame position (SourcePicture), audio by sample (ReadSourceAudio)
// and these descriptions in the AVI services' records.
struct SourceMedia {
    bool isOpen = false;
    SourceReader* reader = nullptr;
    AVIFILEINFOA fileInfo{};
    AVISTREAMINFOA videoInfo{};
    bool hasAudio = false;
    AVISTREAMINFOA audioInfo{};
    WAVEFORMATEX audioFormat{};
    FrameFormat frameFormat{};
    std::uint32_t stride = 0;
    SourceDescription description;
    // Why the last open failed, in words a front end can show under the
    // product's message; empty when there is nothing to add.
    std::string failureDetail;
};

// A destination in MKV, MP4, MOV or WebM, written through libavformat;
// only media/ sees inside.
struct LavOutput;

// How a destination outside AVI is written: its sound and the x264/x265
// preset (empty: medium).
struct DestinationOptions {
    AudioChoice audio = AudioChoice::automatic;
    std::string preset;
};

struct DestinationMedia {
    // An AVI destination goes through the AVI services (file and streams);
    // every other container through `output`.
    LavOutput* output = nullptr;
    DestinationOptions options;
    PAVIFILE file = nullptr;
    PAVISTREAM videoStream = nullptr;
    PAVISTREAM compressedStream = nullptr;  // frames are written here
    PAVISTREAM audioStream = nullptr;
    // The video as written: frame format, and rate as videoRate / videoScale.
    // Known before the compression options are chosen, so a chooser can
    // offer only the compressors that take it.
    FrameFormat frameFormat{};
    std::uint32_t videoRate = 0, videoScale = 1;
    std::uint32_t framesPerAudioChunk = 1;
    double samplesPerAudioChunk = 0;
    std::uint32_t audioChunkBytes = 0;
    std::uint8_t* audioChunk = nullptr;
    // Why the last run's destination failed, in words a front end can show
    // under the product's message (an error of the system, an encoder's
    // refusal); empty when there is nothing to add. Cleared at the start of a run.
    std::string failureDetail;
};

// The run's frame buffers: allocated by the conversion, freed by the full close.
struct FrameBuffers {
    std::uint8_t* ring[ringSlotCount] = {};
    std::uint8_t* outputFrame = nullptr;
    std::uint8_t* scratchFrame = nullptr;
};

struct MediaState {
    SourceMedia source;
    DestinationMedia destination;
    FrameBuffers buffers;
};

// A frame buffer aligned for the fast kernels; null when memory is short.
std::uint8_t* AllocateFrameBuffer(std::size_t bytes);
void FreeFrameBuffer(std::uint8_t*& buffer);
// Frees every buffer and sets it empty; a second call frees nothing.
void FreeFrameBuffers(FrameBuffers& buffers);
