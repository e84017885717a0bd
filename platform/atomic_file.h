#pragma once
// Replacing a whole file so that readers see the old one or the new one,
// never a mixture, and a crash leaves one of the two.

#include <string>
#include <string_view>

// Writes text to a new hidden file beside `file`, flushes it, renames it over
// `file` and flushes the folder. Returns 0, or the errno of the step that
// failed (ENOSPC for a write that made no progress, EEXIST when no free
// temporary name was found); nothing is left behind on failure.
int ReplaceFileAtomically(const std::string& file, std::string_view text);

// The folder part of a path ("." for a bare name).
std::string FolderOf(const std::string& file);
