// Who shows the compression options. The caller of AVISaveOptions passes the
// front end's presenter: the GUI's dialog, or (command line, tests) one that
// applies choices given in advance. Either way the 44-byte records are edited
// in place.
#pragma once

#include "media/vfw/vfw.h"

#include <cstdint>
#include <optional>
#include <vector>

struct AviOptionsPresenter {
    // Edits options[0..streams) for the streams ppavi; true when confirmed.
    bool (*present)(void* context, void* owner, uint32_t flags, int32_t streams, PAVISTREAM* ppavi,
                    AVICOMPRESSOPTIONS** options);
    void* context;
};

// Choices for the applying presenter; what is not given stays as it was. Key
// frames and data rate are applied only when the caller's flags offer them.
struct AviOptionsChoice {
    bool confirm = true;  // false: as if the user cancelled
    std::optional<uint32_t> fccHandler;
    std::optional<uint32_t> quality;         // 0..10000
    std::optional<uint32_t> keyFrameEvery;   // 0: no regular key frames
    std::optional<uint32_t> bytesPerSecond;  // 0: no data rate
    std::vector<uint8_t> parms;              // compressor state to attach, if any
};

// A presenter applying *choice (which must outlive its use).
AviOptionsPresenter AviChoicePresenter(const AviOptionsChoice* choice);

// What a presenter attaches to a record: a copy of the bytes under a number
// that goes into lpFormat or lpParms (0 when it can't be stored).
uint32_t AviOptionsAttach(const void* data, uint32_t size);
// The bytes attached under a number; false when nothing is (any more).
bool AviOptionsAttachment(uint32_t number, std::vector<uint8_t>* data);
// How many attachments are alive, so callers can check that they were freed.
size_t AviOptionsAttachmentCount();
