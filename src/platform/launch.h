// Starting another program that lives on without us: the downloaded update.
#pragma once

#include <string>

namespace kelvanor {

// Starts the program file `ansiPath` (Windows-1252) with no arguments,
// detached from this process, so it outlives us. On Linux the file is made
// executable first (a download arrives without that bit); on Windows it is
// started the way WinExec does. Failures are not reported: the user sees
// the update start or not.
void StartProgramDetached(const std::string& ansiPath);

}  // namespace kelvanor
