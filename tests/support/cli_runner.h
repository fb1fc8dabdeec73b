// Test support: runs the built kelvanor-cli as a separate process with its
// own application-data folder and no terminal on stdin.
#pragma once

#include <string>
#include <vector>

namespace kelvanor::testing {

struct CliRun {
  int exitCode = -1;  // -1 when a signal ended it
  std::string out;
  std::string err;
  long peakMemoryKb = 0;  // the largest resident set the program had
};

// A program started by StartProgram and not yet waited for.
struct StartedProgram {
  int pid = -1;
  std::string outPath;
  std::string errPath;
};

std::string CliBinary();
// A built tool: tools/gen_practice and the like.
std::string BuiltProgram(const std::string& relativePath);

// Runs `program` with `args` the same way (see RunCli).
CliRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::string& appData, const std::string& scratchDir);

// `appData` becomes $APPDATA; PATH is passed on so curl, zip and unzip are
// found, and TMPDIR when it is set; LANG is C.UTF-8. Output is captured
// through files in `scratchDir`.
CliRun RunCli(const std::vector<std::string>& args, const std::string& appData,
              const std::string& scratchDir);

// The same, but returns as soon as the program runs (several may run at once).
// With `asNobody` and when we are root, the program runs as the unprivileged
// user "nobody", for whom file modes count. `extraEnvironment` ("NAME=value")
// is added to what the program gets.
StartedProgram StartProgram(const std::string& program, const std::vector<std::string>& args,
                            const std::string& appData, const std::string& scratchDir,
                            bool asNobody = false,
                            const std::vector<std::string>& extraEnvironment = {});
CliRun WaitProgram(const StartedProgram& started);

}  // namespace kelvanor::testing
