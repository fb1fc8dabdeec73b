// Child processes: find a program the way the command interpreter does, start
// it, and wait for it in short rounds while the front end stays responsive.
//
// Texts here are in the file-system encoding (UTF-8), not Windows-1252: the
// batch interpreter converts before it calls in.
#pragma once

#include <string>
#include <vector>

#include "platform/message_pump.h"

namespace kelvanor {

// Exit statuses that do not come from the program itself.
constexpr int kExitProgramNotFound = 9009;  // what cmd reports for an unknown command
constexpr int kExitCannotExecute = 126;     // found, but the system refuses to run it
constexpr int kExitCannotStart = -1;        // no process could be made, or it was lost
constexpr int kExitSignalBase = 128;        // a signal ended the program: 128 + signal

// How long one wait round lasts before the front end gets its turn.
constexpr int kWaitRoundMilliseconds = 50;

struct ChildProcessSetup {
  std::string program;             // path of the executable
  std::vector<std::string> argv;   // argv[0] first
  // "NAME=VALUE" entries set on top of our own environment.
  std::vector<std::string> environment;
  // Where stdout and stderr go: "" sends both to our stderr (our stdout stays
  // ours), else both are written into this file (created or truncated).
  std::string outputFile;
};

// Starts the program with stdin on /dev/null and waits for its end, calling
// pump.ProcessPendingMessages() between rounds of at most 50 ms. Returns the
// exit status, 128 + signal number when a signal ended it, kExitCannotExecute
// when exec failed, kExitCannotStart when no process could be made or the
// wait itself failed (it never waits forever on a lost child). When the pump
// throws, the child is killed and reaped before the exception goes on.
int RunProcessAndWait(const ChildProcessSetup& setup, IMessagePump& pump);

// The executable a command word names: `name` itself or, when it ends in
// ".exe" (any case), `name` without it; looked for first in the current
// folder, then in every folder of PATH. A name with a "/" is a path and is not
// searched. Returns "" when nothing executable is found.
std::string FindProgram(const std::string& name);

}  // namespace kelvanor
