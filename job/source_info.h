// The two texts that describe an open source: its video and its audio.
#pragma once

#include <cstdint>
#include <string>

#include "media/media_state.h"

// Five lines each, as the information panel shows them.
std::string VideoInfoText(const SourceMedia& source);
std::string AudioInfoText(const SourceMedia& source);  // the empty text without audio

// What the panels leave out: container, codecs, the rate's evenness,
// rotation, sample aspect and every stream, one item a line.
std::string SourceDetailsText(const SourceMedia& source);

extern const char emptyVideoInfoText[];
extern const char emptyAudioInfoText[];

// The output height an aspect preset gives for a source: width x factor
// rounded half up, the source height for "1:1"; -1 for "Custom" and values
// outside the presets (the height is then typed).
int AspectOutputHeight(int preset, std::uint32_t width, std::uint32_t height);
