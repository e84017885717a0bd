#pragma once
// The program's resources as data. The build compiles the resource script
// (tavrick.rc) into tables of these records, the string table and the dialog
// templates, linked into every program that shows the product's texts.

#include <cstddef>
#include <cstdint>

#include "resources/dialog.h"

struct StringResource {
    std::uint16_t id;
    const char* text;
};

// A resource embedded from a file: its type ("J2KIMG", "ICON", ...), id and bytes.
struct FileResource {
    const char* type;
    std::uint16_t id;
    const unsigned char* data;
    std::size_t size;
};

// What a module (a program) carries; its string table and dialogs are sorted by id.
struct ResourceModule {
    const StringResource* strings;
    std::size_t stringCount;
    const DialogResource* dialogs = nullptr;
    std::size_t dialogCount = 0;
    const FileResource* files = nullptr;  // sorted by type, then id
    std::size_t fileCount = 0;
};

// The resources of the running program.
extern const ResourceModule tavrickResources;
