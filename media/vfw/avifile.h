// The records behind PAVIFILE and PAVISTREAM. Plain data shared by the reader,
// the frame getter and the writer; nothing outside media/vfw includes this.
#pragma once

#include "media/vfw/vfw.h"

#include <cstdint>
#include <string>
#include <vector>

// One chunk of a stream, as the index (or a scan of 'movi') describes it.
struct AviIndexEntry {
    uint64_t offset;  // absolute file offset of the chunk's data (after its header)
    uint32_t size;    // data bytes
    uint32_t flags;   // kAviEntryKey, kAviEntryBad
};

constexpr uint32_t kAviEntryKey = 1;
// The index points outside the file; the position stays so later ones keep
// their place, but it has no data.
constexpr uint32_t kAviEntryBad = 2;

// The stream header exactly as a 'strh' chunk stores it (56 bytes; shorter
// chunks leave the rest zero).
struct AviStreamHeader {
    uint32_t fccType;
    uint32_t fccHandler;
    uint32_t dwFlags;
    uint16_t wPriority;
    uint16_t wLanguage;
    uint32_t dwInitialFrames;
    uint32_t dwScale;
    uint32_t dwRate;
    uint32_t dwStart;
    uint32_t dwLength;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwQuality;
    uint32_t dwSampleSize;
    int16_t rcFrame[4];  // left, top, right, bottom
};
static_assert(sizeof(AviStreamHeader) == 56);

// 'avih', 56 bytes.
struct AviMainHeader {
    uint32_t dwMicroSecPerFrame;
    uint32_t dwMaxBytesPerSec;
    uint32_t dwPaddingGranularity;
    uint32_t dwFlags;
    uint32_t dwTotalFrames;
    uint32_t dwInitialFrames;
    uint32_t dwStreams;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwWidth;
    uint32_t dwHeight;
    uint32_t dwReserved[4];
};
static_assert(sizeof(AviMainHeader) == 56);

struct AviStream {
    AviFile* file;  // the stream holds a reference on it
    int32_t refs;
    uint32_t number;  // the ## of its chunk ids
    AviStreamHeader header;
    std::vector<uint8_t> format;  // 'strf' as stored
    std::string name;             // 'strn'
    std::vector<AviIndexEntry> entries;
    // Byte streams: running total of data bytes before each entry (entries+1 values).
    std::vector<uint64_t> byteStarts;
    uint32_t sampleSize;  // 0: every chunk is one sample
    uint32_t largestChunk;
    // Set on a compressing stream: what compresses into the stream it was made on.
    struct AviCompressor* compressor = nullptr;
};

struct AviFile {
    int32_t refs;
    int fd;
    uint64_t fileSize;
    bool writable;
    AviMainHeader mainHeader;
    bool hasIndex;  // the file carried an index of its own (idx1 or OpenDML)
    // Chunks were found by a scan where the file's sizes or index didn't reach
    // them: an unfinished or cut-off recording (AviFileRecoveredByScan).
    bool recoveredByScan = false;
    std::vector<AviStream*> streams;
    // Set on a file opened with OF_CREATE (media/vfw/aviwriter.h).
    struct AviWriter* writer = nullptr;
    std::string failure;  // AviFileFailure
};

// Reads exactly n bytes at offset; false on a short read or a range outside the file.
bool AviReadAt(const AviFile* file, uint64_t offset, void* buffer, size_t n);

// Stream length in samples as the index counts it.
uint64_t AviIndexedLength(const AviStream* stream);

// The stream's format as a bitmap header, when it has one.
bool AviBitmapFormat(const AviStream* stream, BITMAPINFOHEADER* out);

// Frame limits: beyond these a stream is refused rather than decoded, so a
// lying header can't make us allocate gigabytes.
constexpr int32_t kAviMaxFrameSide = 16384;
constexpr uint64_t kAviMaxFramePixels = 8192ull * 8192ull;
