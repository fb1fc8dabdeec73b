// Shared pieces of the batch interpreter tests: a pump that counts, a working
// folder that is the current directory for the test, small program stubs.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "platform/message_pump.h"
#include "support/test_db.h"

namespace kelvanor::testing {

class CountingPump : public IMessagePump {
 public:
  void ProcessPendingMessages() override {
    ++calls;
    if (onCall) onCall(calls);
  }
  int calls = 0;
  std::function<void(int)> onCall;
};

// Writes an executable shell script.
inline void WriteScript(const std::string& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body + "\n");
  ::chmod(path.c_str(), 0755);
}

// Makes a fresh temporary folder the current directory and puts back the
// previous directory and PATH afterwards.
class InTempFolder {
 public:
  InTempFolder() {
    char buf[4096];
    if (::getcwd(buf, sizeof buf) != nullptr) oldCwd_ = buf;
    const char* path = std::getenv("PATH");
    hadPath_ = path != nullptr;
    if (hadPath_) oldPath_ = path;
    if (::chdir(dir_.Path().c_str()) != 0) std::abort();
  }
  ~InTempFolder() {
    if (!oldCwd_.empty() && ::chdir(oldCwd_.c_str()) != 0) std::abort();
    if (hadPath_) {
      ::setenv("PATH", oldPath_.c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
  }
  InTempFolder(const InTempFolder&) = delete;
  InTempFolder& operator=(const InTempFolder&) = delete;

  const std::string& Path() const { return dir_.Path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }

 private:
  TempDir dir_;
  std::string oldCwd_;
  std::string oldPath_;
  bool hadPath_ = false;
};

}  // namespace kelvanor::testing
