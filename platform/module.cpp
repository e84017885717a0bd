#include "platform/module.h"

#include <algorithm>
#include <cstring>

HINSTANCE GetModuleHandleA(const char* moduleName) { return moduleName ? nullptr : &tavrickResources; }

int LoadStringA(HINSTANCE module, UINT id, char* buffer, int bufferSize) {
    if (!buffer || bufferSize <= 0) return 0;
    buffer[0] = '\0';
    if (!module || id > 0xFFFF) return 0;
    const StringResource* end = module->strings + module->stringCount;
    const StringResource* found = std::lower_bound(
        module->strings, end, id, [](const StringResource& entry, UINT wanted) { return entry.id < wanted; });
    if (found == end || found->id != id || !found->text) return 0;
    size_t length = std::min(std::strlen(found->text), static_cast<size_t>(bufferSize - 1));
    std::memcpy(buffer, found->text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

HRSRC FindResourceA(HINSTANCE module, int id, const char* type) {
    if (!module || !module->files || !type) return nullptr;
    for (std::size_t i = 0; i < module->fileCount; ++i) {
        const FileResource& file = module->files[i];
        if (file.id == id && std::strcmp(file.type, type) == 0) return &file;
    }
    return nullptr;
}

HGLOBAL LoadResource(HINSTANCE, HRSRC resource) { return resource; }

const void* LockResource(HGLOBAL loaded) { return loaded ? loaded->data : nullptr; }

DWORD SizeofResource(HINSTANCE, HRSRC resource) { return resource ? static_cast<DWORD>(resource->size) : 0; }
