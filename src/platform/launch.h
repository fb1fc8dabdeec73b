// Starting another program that lives on without us: the downloaded update.
#pragma once

#include <string>

namespace kelvanor {

// Starts the program file `ansiPath` (Windows-1252) with no arguments,
// detached from this process, so it outlives us. On Linux the file is made
// executable first (a download arrives without that bit); on Windows it is
// opened as Explorer opens a program, so one that needs administrator
// rights (a setup) gets Windows' consent prompt. False when it could not be
// started (on Windows also when the user declined the prompt).
bool StartProgramDetached(const std::string& ansiPath);

}  // namespace kelvanor
