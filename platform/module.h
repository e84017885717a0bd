#pragma once
// Modules and their resources: the program's own string table.

#include "platform/wintypes.h"
#include "resources/resource.h"

using HINSTANCE = const ResourceModule*;

// nullptr names the running program, the only module there is; any other name gives nullptr.
HINSTANCE GetModuleHandleA(const char* moduleName);

// Copies string id of the module into buffer, at most bufferSize - 1 characters
// and a terminator, and returns the characters copied. An id the table lacks
// gives 0 and an empty buffer.
int LoadStringA(HINSTANCE module, UINT id, char* buffer, int bufferSize);

// Resources embedded from files (icons, cursors, pictures), found by type and id.
using HRSRC = const FileResource*;
using HGLOBAL = const FileResource*;
// nullptr when the module has no resource of that type and id.
HRSRC FindResourceA(HINSTANCE module, int id, const char* type);
HGLOBAL LoadResource(HINSTANCE module, HRSRC resource);
// The resource's first byte; nullptr when there is none.
const void* LockResource(HGLOBAL loaded);
DWORD SizeofResource(HINSTANCE module, HRSRC resource);
