// Preloaded into a program under test (LD_PRELOAD): counts its fsync and
// fdatasync calls, the moments it makes something durable, and kills it
// (SIGKILL, no cleanup of any kind) just before the N-th.
//
//   KELVANOR_CRASH_AT_SYNC=N       kill at the N-th call (1 is the first)
//   KELVANOR_SYNC_COUNT_FILE=PATH  write the number of calls there at exit
//
// What was written before the kill is in the system's cache, as after any
// crash of a process. Programs the process starts do not inherit it.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long calls = 0;
long crashAt = -1;
char countFile[4096];

using SyncCall = int (*)(int);

SyncCall Next(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  SyncCall call = nullptr;
  std::memcpy(&call, &symbol, sizeof call);
  return call;
}

void DurabilityPoint() {
  if (++calls == crashAt) kill(getpid(), SIGKILL);
}

__attribute__((constructor)) void Start() {
  const char* at = std::getenv("KELVANOR_CRASH_AT_SYNC");
  const char* file = std::getenv("KELVANOR_SYNC_COUNT_FILE");
  if (at != nullptr) crashAt = std::atol(at);
  if (file != nullptr) std::snprintf(countFile, sizeof countFile, "%s", file);
  // curl, zip and unzip are not what is counted.
  unsetenv("LD_PRELOAD");
}

__attribute__((destructor)) void Stop() {
  if (countFile[0] == '\0') return;
  std::FILE* out = std::fopen(countFile, "w");
  if (out == nullptr) return;
  std::fprintf(out, "%ld\n", calls);
  std::fclose(out);
}

}  // namespace

extern "C" int fsync(int fd) {
  static const SyncCall real = Next("fsync");
  DurabilityPoint();
  return real(fd);
}

extern "C" int fdatasync(int fd) {
  static const SyncCall real = Next("fdatasync");
  DurabilityPoint();
  return real(fd);
}
