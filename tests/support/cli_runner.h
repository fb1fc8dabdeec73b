// Test support: runs the built kelvanor-cli as a separate process with its
// own application-data folder and no terminal on stdin.
#pragma once

#include <string>
#include <vector>

namespace kelvanor::testing {

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string CliBinary();
// A built tool: tools/gen_practice and the like.
std::string BuiltProgram(const std::string& relativePath);

// Runs `program` with `args` the same way (see RunCli).
CliRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::string& appData, const std::string& scratchDir);

// `appData` becomes $APPDATA; PATH is passed on so curl, zip and unzip are
// found; LANG is C.UTF-8. Output is captured through files in `scratchDir`.
CliRun RunCli(const std::vector<std::string>& args, const std::string& appData,
              const std::string& scratchDir);

}  // namespace kelvanor::testing
