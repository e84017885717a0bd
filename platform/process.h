#pragma once
// Ending the process. The settings code ends the program on a store failure;
// the program's front end decides what ending means, and tests watch it happen.

using ProcessEndHandler = void (*)(int exitCode);

// Installs the handler EndProcess calls and returns the previous one; nullptr
// restores the default, which exits the process with the code.
ProcessEndHandler SetProcessEndHandler(ProcessEndHandler handler);

// Ends the process with exitCode. Returns only when the installed handler does,
// so callers return at once after it.
void EndProcess(int exitCode);
