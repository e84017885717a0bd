// The compressor options record that the options dialog edits and the settings
// store persists: 44 bytes, eleven little-endian 32-bit members. The two
// pointer slots hold attachment numbers of this process (see
// media/vfw/saveoptions.h), never addresses, so a stored record stays 44 bytes
// and a number read back from a file can't be followed anywhere.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/mmsystem.h"

// The stream types of AVI files; a record names the one it compresses.
constexpr uint32_t streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
constexpr uint32_t streamtypeAUDIO = mmioFOURCC('a', 'u', 'd', 's');

struct AVICOMPRESSOPTIONS {
    uint32_t fccType;
    uint32_t fccHandler;
    uint32_t dwKeyFrameEvery;
    uint32_t dwQuality;  // 0..10000; 0xFFFFFFFF: the compressor's default
    uint32_t dwBytesPerSecond;
    uint32_t dwFlags;
    uint32_t lpFormat;
    uint32_t cbFormat;
    uint32_t lpParms;
    uint32_t cbParms;
    uint32_t dwInterleaveEvery;
};

constexpr uint32_t AVICOMPRESSF_INTERLEAVE = 0x1;
constexpr uint32_t AVICOMPRESSF_DATARATE = 0x2;
constexpr uint32_t AVICOMPRESSF_KEYFRAMES = 0x4;
constexpr uint32_t AVICOMPRESSF_VALID = 0x8;

static_assert(sizeof(AVICOMPRESSOPTIONS) == 44);
static_assert(offsetof(AVICOMPRESSOPTIONS, fccHandler) == 4);
static_assert(offsetof(AVICOMPRESSOPTIONS, dwQuality) == 12);
static_assert(offsetof(AVICOMPRESSOPTIONS, dwFlags) == 20);
static_assert(offsetof(AVICOMPRESSOPTIONS, lpFormat) == 24);
static_assert(offsetof(AVICOMPRESSOPTIONS, lpParms) == 32);
static_assert(offsetof(AVICOMPRESSOPTIONS, dwInterleaveEvery) == 40);
