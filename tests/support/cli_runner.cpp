#include "support/cli_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
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
  return WaitProgram(StartProgram(program, args, appData, scratchDir));
}

StartedProgram StartProgram(const std::string& program, const std::vector<std::string>& args,
                            const std::string& appData, const std::string& scratchDir,
                            bool asNobody, const std::vector<std::string>& extraEnvironment) {
  static int runs = 0;
  StartedProgram started;
  const std::string stem = scratchDir + "/cli" + std::to_string(++runs);
  started.outPath = stem + ".stdout";
  started.errPath = stem + ".stderr";
  const std::string appDataVar = "APPDATA=" + appData;
  const char* path = std::getenv("PATH");
  const std::string pathVar = std::string("PATH=") + (path ? path : "/usr/bin:/bin");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp = {const_cast<char*>(appDataVar.c_str()),
                             const_cast<char*>(pathVar.c_str()), const_cast<char*>("LANG=C.UTF-8")};
  // The folder for temporary files the tests run with (scripts/test.sh gives
  // the suite one of its own, and looks in it for anything left behind).
  const char* temporary = std::getenv("TMPDIR");
  const std::string temporaryVar = std::string("TMPDIR=") + (temporary ? temporary : "");
  if (temporary != nullptr && *temporary != '\0') {
    envp.push_back(const_cast<char*>(temporaryVar.c_str()));
  }
  for (const std::string& variable : extraEnvironment) {
    envp.push_back(const_cast<char*>(variable.c_str()));
  }
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(started.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(started.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (asNobody && ::geteuid() == 0) {
      const gid_t nogroup = 65534;
      if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(65534) != 0) {
        ::_exit(126);
      }
    }
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  started.pid = pid;
  return started;
}

CliRun WaitProgram(const StartedProgram& started) {
  CliRun result;
  int status = 0;
  struct rusage usage {};
  if (started.pid > 0 && ::wait4(started.pid, &status, 0, &usage) == started.pid) {
    result.peakMemoryKb = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  }
  result.out = ReadFile(started.outPath);
  result.err = ReadFile(started.errPath);
  return result;
}

}  // namespace kelvanor::testing
