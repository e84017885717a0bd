#include "media/media_state.h"

#include <cstdlib>

std::uint8_t* AllocateFrameBuffer(std::size_t bytes) {
    // aligned_alloc wants a multiple of the alignment.
    const std::size_t rounded = (bytes + 63) / 64 * 64;
    return static_cast<std::uint8_t*>(std::aligned_alloc(64, rounded ? rounded : 64));
}

void FreeFrameBuffer(std::uint8_t*& buffer) {
    std::free(buffer);
    buffer = nullptr;
}

void FreeFrameBuffers(FrameBuffers& buffers) {
    for (auto& slot : buffers.ring) FreeFrameBuffer(slot);
    FreeFrameBuffer(buffers.outputFrame);
    FreeFrameBuffer(buffers.scratchFrame);
}
