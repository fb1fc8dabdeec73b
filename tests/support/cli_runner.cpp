#include "support/cli_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/test_db.h"

namespace kelvanor::testing {

std::string CliBinary() { return BuiltProgram("kelvanor-cli"); }

std::string BuiltProgram(const std::string& relativePath) {
  return std::string(KELVANOR_BINARY_DIR) + "/" + relativePath;
}

CliRun RunCli(const std::vector<std::string>& args, const std::string& appData,
              const std::string& scratchDir) {
  return RunProgram(CliBinary(), args, appData, scratchDir);
}

CliRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::string& appData, const std::string& scratchDir) {
  const std::string outPath = scratchDir + "/cli.stdout";
  const std::string errPath = scratchDir + "/cli.stderr";
  const std::string appDataVar = "APPDATA=" + appData;
  const char* path = std::getenv("PATH");
  const std::string pathVar = std::string("PATH=") + (path ? path : "/usr/bin:/bin");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    char* envp[] = {const_cast<char*>(appDataVar.c_str()), const_cast<char*>(pathVar.c_str()),
                    const_cast<char*>("LANG=C.UTF-8"), nullptr};
    ::execve(program.c_str(), argv.data(), envp);
    ::_exit(127);
  }
  CliRun result;
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  }
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

}  // namespace kelvanor::testing
