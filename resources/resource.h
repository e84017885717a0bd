#pragma once
// The program's resources as data. The build compiles the resource script
// (tavrick.rc) into tables of these records, linked into every program that
// shows the product's texts.

#include <cstddef>
#include <cstdint>

struct StringResource {
    std::uint16_t id;
    const char* text;
};

// What a module (a program) carries; its string table is sorted by id.
struct ResourceModule {
    const StringResource* strings;
    std::size_t stringCount;
};

// The resources of the running program.
extern const ResourceModule tavrickResources;
