#pragma once
// Start-up of `converter`: the command line, the program directory, the
// settings, the tables, then the main dialog until it closes.

#include <string>

// The command-line text (the arguments without the program name, joined by
// blanks) is "-uninstall" in any letter case, and nothing else.
bool IsUninstallSwitch(const std::string& commandLine);
// Any other text is a path: leading blanks skipped, a quoted path up to the
// next quote, else the whole rest.
std::string CommandLinePath(const std::string& commandLine);
// The directory of the program file, ending in a backslash: "C:\Tools\conv\",
// "C:\" for the root of a drive, "/usr/bin\" here.
std::string ProgramDirectoryOf(const std::string& programPath);

// The whole start-up after the QApplication exists; returns the exit code.
// initialSource: opened as the source once the main dialog is up (may be empty).
// Uses appState.frontEnd when it has a message box presenter (tests), else
// the GUI's own.
int RunConverter(const std::string& programPath, const std::string& initialSource);
