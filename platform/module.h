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
