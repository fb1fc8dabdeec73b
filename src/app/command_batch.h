// The command batch: every external step of a transfer is one command line
// written into tmp.bat and run to its end while the window stays alive.
#pragma once

#include <string>

#include "app/sync_view.h"

namespace kelvanor {

// Writes `command` (Windows-1252 bytes as built, console letters included) as
// the only line of folder + "tmp.bat", followed by CR LF, and runs it. Returns
// the command's exit status (0 for success; see RunAndWait). When `output` is
// given it receives what the command wrote (UTF-8), else that goes to stderr.
// Raises EInOutError when tmp.bat cannot be written.
//
// Every curl started this way fails on an HTTP error status (see the .cpp).
int RunCommand(const std::string& command, const std::string& folder, IMessagePump& pump,
               std::string* output = nullptr);

// Deletes every plain file in `folder` (failures ignored; subfolders are left
// alone), then removes the folder itself. Raises EInOutError when the folder
// cannot be removed (for example because a subfolder is left in it).
void EmptyAndRemoveFolder(const std::string& folder);

// The folder whose .curlrc the commands' curl reads (created on first use).
// "" when it could not be made.
std::string CurlConfigFolder();

}  // namespace kelvanor
