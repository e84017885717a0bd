// The writer behind a PAVIFILE opened with OF_CREATE. Plain data hung off the
// shared AviFile record; nothing outside media/vfw includes this.
#pragma once

#include "media/vfw/avifile.h"

#include <cstdint>
#include <vector>

struct AviWriter {
    uint64_t end = 0;            // bytes of the file that were written completely
    uint64_t moviFourcc = 0;     // where 'movi' stands: the base of idx1 offsets
    uint64_t headerBytes = 0;    // everything before the first chunk
    bool started = false;        // the headers are on disk and data follows
    bool failed = false;         // a write went wrong; later writes are refused
    std::vector<uint8_t> index;  // the idx1 body, 16 bytes per chunk, in file order
    // The busiest second of the first video stream, for 'avih'.
    uint64_t second = 0;
    uint64_t secondBytes = 0;
    uint64_t maxBytesPerSec = 0;
};

// The largest stream format AVIStreamSetFormat takes.
constexpr size_t kAviMaxFormat = 1u << 20;

// The most a file may hold: RIFF sizes and idx1 offsets are 32-bit.
constexpr uint64_t kAviMaxWrittenFile = 0xFFFFFFFFull;

// AVIFileOpenA for OF_CREATE.
AVIRESULT AviWriterOpen(PAVIFILE* ppfile, const char* path, uint32_t mode);

// Appends one chunk of a stream of a writing file. The chunk counts as
// `samples` samples of the stream. *grew: how much the file grew.
AVIRESULT AviWriterAppend(AviStream* stream, const void* data, uint32_t size, uint32_t samples, bool key,
                          uint64_t* grew);

// At the last release (or AviFileComplete): index, final sizes and lengths.
// The writer is freed. False when they didn't all reach the file.
bool AviWriterFinish(AviFile* file);

// AVIStreamSetFormat and AVIStreamWrite on a plain stream of a writing file,
// the arguments checked. The public calls (media/vfw/compressor.cpp) send a
// compressing stream's to its compressor, which writes here in turn: calls go
// from the compressor to the writer, never back.
AVIRESULT AviWriterSetFormat(AviStream* stream, const void* format, int32_t size);
AVIRESULT AviWriterWrite(AviStream* stream, int32_t start, int32_t samples, const void* data, int32_t size,
                         uint32_t flags, int32_t* samplesWritten, int32_t* bytesWritten);

// Frees a compressing stream's compressor and record; releases the stream it
// writes into (media/vfw/compressor.cpp).
void AviCompressorDestroy(AviStream* stream);
