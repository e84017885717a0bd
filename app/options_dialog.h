#pragma once
// The compression options dialog of `converter`: the compressors `tavrick
// codecs` lists, with what the chosen one can use (quality, a key frame every
// N frames, a data rate); the rest greyed. It edits the same 44-byte record
// the command line fills from its flags.

#include <cstdint>

#include "media/lav/output_codecs.h"
#include "media/vfw/compressor.h"
#include "media/vfw/vfw.h"

// What the dialog shows and the user sets.
struct OptionsChoice {
    std::uint32_t fccHandler = 0;
    std::uint32_t quality = 10000;  // 0..10000
    bool keyFrames = false;
    std::uint32_t keyFrameEvery = 0;
    bool dataRate = false;
    std::uint32_t kilobytesPerSecond = 0;
};

// The choice a record stands for (a code this build lacks: "DIB ").
OptionsChoice ChoiceFromOptions(const AVICOMPRESSOPTIONS& options);
// Writes the choice into the record; what the compressor or the caller's
// ICMF flags don't offer keeps the record's value.
void ApplyChoice(const OptionsChoice& choice, const AviCompressorInfo& compressor, std::uint32_t flags,
                 AVICOMPRESSOPTIONS& options);

// The video a run will write: the dialog lists only the compressors that
// take it (AviCompressorRefusal is empty).
struct OptionsTarget {
    std::int32_t width = 0, height = 0;
    std::uint32_t rate = 0, scale = 1;                 // frames per second as rate / scale
    OutputContainer container = OutputContainer::avi;  // only what it takes is listed
};

// Runs the dialog modally over owner (UI thread); true on OK. Without a
// target every compressor is listed.
bool RunOptionsDialog(void* owner, std::uint32_t flags, AVICOMPRESSOPTIONS& options,
                      const OptionsTarget* target = nullptr);

// The front end's compression options choice: this dialog for the video the
// run's destination was set up for, shown on the UI thread; callable from
// the worker, which waits for the answer.
bool PresentOptionsDialog(void* context, void* owner, std::uint32_t flags, std::int32_t streams, PAVISTREAM* ppavi,
                          AVICOMPRESSOPTIONS** options);

// For tests and screenshots: the dialog answered by this function instead of
// a person. It gets the dialog (a QDialog) once it is up; nullptr restores people.
using OptionsDialogDriver = void (*)(void* dialog, void* context);
void SetOptionsDialogDriver(OptionsDialogDriver driver, void* context);
