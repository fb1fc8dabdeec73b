// The command batch: every external step of a transfer is one command line
// written into tmp.bat and run to its end while the window stays alive.
//
// Room src/server: what speaks to the sync server in a sync (commands,
// transfers, reading answers, checking archives). It uses the
// settings and the platform layer, never the sync run: a TransferLog is all
// it knows of one.
#pragma once

#include <string>

#include "platform/message_pump.h"

namespace kelvanor {

// Writes `command` (Windows-1252 bytes as built, console letters included) as
// the only line of folder + "tmp.bat", followed by CR LF, and runs it. Every
// "%" is written doubled, so the interpreter hands it on as one "%"; the
// file is readable by its owner only (it holds the FTP login). Returns
// the command's exit status (0 for success; see RunAndWait). When `output` is
// given it receives what the command wrote (UTF-8), else that goes to stderr.
// Raises EInOutError when tmp.bat cannot be written.
//
// Every curl started this way fails on an HTTP error status (see the .cpp).
// `curlLogin` ("user:password", see AddressLogin) reaches curl through its
// settings file, never through tmp.bat; "" sends none.
int RunCommand(const std::string& command, const std::string& folder, IMessagePump& pump,
               std::string* output = nullptr, const std::string& curlLogin = std::string());

// Removes `folder` with everything in it, subfolders included, never
// following a link: a link inside goes as a link, and a link in the folder's
// own place is removed, not what it points to. Raises EInOutError when the
// folder is not there or something of it stays.
void EmptyAndRemoveFolder(const std::string& folder);

// The folder whose .curlrc the commands' curl reads (created on first use).
// "" when it could not be made.
std::string CurlConfigFolder();

}  // namespace kelvanor
