// fuzz_download_archive: arbitrary bytes as the download archive the server
// sends, checked as the download checks it before unzip runs
// (CheckDownloadArchive): its directory, the entries' own headers, their
// sizes, extra fields and names, and the data unpacked in memory.
//
// What must hold for every input: the check answers, within the limits of
// download_limits.h, with Ok or one of its refusals; no exception, no
// crash, no sanitizer report, no more memory than a few unpacking buffers.
// An answer is the same when asked twice.
//
// With KELVANOR_FUZZ_UNZIP=1 every archive the check lets through is also
// unpacked by the unzip the tool runs, into a folder holding the archive and
// its dated copy as the download folder does, and what unzip wrote must be
// what the check counted: plain files only, in that folder only, within the
// limits, the two copies untouched. (Slow: one unzip per accepted input.)
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "server/download_archive.h"
#include "server/download_limits.h"

namespace {

namespace fs = std::filesystem;
using namespace kelvanor;

constexpr char kArchive[] = "dl_hof.zip";
constexpr char kDatedCopy[] = "dl_hof_09.12.2026.zip";

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_download_archive: %s\n", what.c_str());
  std::abort();
}

void WriteFileBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("cannot write " + path.string());
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct Workspace {
  fs::path root;
  fs::path download;  // the download folder: the archive and its copy
  fs::path unpacked;  // a folder of its own for unzip (KELVANOR_FUZZ_UNZIP)
  bool unzip = false;
};

Workspace& TheWorkspace() {
  static Workspace* ws = [] {
    auto* w = new Workspace;
    const char* shm = "/dev/shm";
    std::string pattern = ((fs::is_directory(shm) ? fs::path(shm) : fs::temp_directory_path()) /
                           "kelvanor-fuzz-archive-XXXXXX")
                              .string();
    if (::mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp failed");
    w->root = pattern;
    w->download = w->root / "tmp_dl";
    fs::create_directories(w->download);
    const char* unzip = std::getenv("KELVANOR_FUZZ_UNZIP");
    w->unzip = unzip != nullptr && std::string(unzip) == "1";
    // Removed when the fuzzer ends as it should; a finding leaves it for a look.
    std::atexit([] { std::error_code ignored; fs::remove_all(TheWorkspace().root, ignored); });
    return w;
  }();
  return *ws;
}

// unzip as the download runs it ("unzip ARCHIVE -d DIR"), with nothing on
// its input: a question it asks gets no answer. True when it ran to its end.
bool RunUnzip(const fs::path& archive, const fs::path& folder) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::FILE* in = std::freopen("/dev/null", "r", stdin);
    std::FILE* out = std::freopen("/dev/null", "w", stdout);
    std::FILE* err = std::freopen("/dev/null", "w", stderr);
    (void)in, (void)out, (void)err;
    ::execlp("unzip", "unzip", archive.c_str(), "-d", folder.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  pid_t waited = -1;
  // libFuzzer's timer (SIGALRM) interrupts the wait.
  do {
    waited = pid < 0 ? -1 : ::waitpid(pid, &status, 0);
  } while (waited < 0 && pid > 0 && errno == EINTR);
  if (waited != pid) Fail("unzip could not be run");
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) Fail("unzip is missing");
  return WIFEXITED(status);
}

// What unzip made of an archive the check let through.
void UnpackAsTheDownloadDoes(Workspace& ws, const std::string& bytes) {
  std::error_code ignored;
  fs::remove_all(ws.unpacked, ignored);
  ws.unpacked = ws.root / "unzip";
  const fs::path folder = ws.unpacked / "tmp_dl";
  fs::create_directories(folder);
  WriteFileBytes(folder / kArchive, bytes);
  WriteFileBytes(folder / kDatedCopy, bytes);
  if (!RunUnzip(folder / kArchive, folder)) Fail("unzip did not end by itself");
  if (ReadFileBytes(folder / kArchive) != bytes || ReadFileBytes(folder / kDatedCopy) != bytes) {
    Fail("unzip changed the archive or its dated copy");
  }
  for (const auto& entry : fs::directory_iterator(ws.unpacked)) {
    if (entry.path().filename() != "tmp_dl") Fail("unzip wrote beside the folder: " + entry.path().string());
  }
  std::uintmax_t total = 0;
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const fs::file_status status = fs::symlink_status(entry.path());
    if (!fs::is_regular_file(status)) Fail("unzip made no plain file: " + entry.path().string());
    const std::uintmax_t size = fs::file_size(entry.path());
    if (size > kMaxChangeFileBytes) Fail("unzip wrote a file beyond the limit");
    total += size;
    ++files;
  }
  if (files > kMaxArchiveEntries + 2) Fail("unzip wrote more files than the limit");
  if (total > kMaxUnpackedBytes + 2 * bytes.size()) Fail("unzip wrote more than the limit");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Workspace& ws = TheWorkspace();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const fs::path archive = ws.download / kArchive;
  WriteFileBytes(archive, bytes);
  const std::vector<std::string> taken = {kArchive, kDatedCopy};

  const Outcome first = CheckDownloadArchive(archive.string(), kArchive, taken);
  if (first.IsOk() != first.Message().empty()) Fail("an answer without a message, or the reverse");
  if (!first.IsOk() && first.Step() != "Archivpr\xFC" "fung") Fail("a refusal of another step");
  const Outcome again = CheckDownloadArchive(archive.string(), kArchive, taken);
  if (again.IsOk() != first.IsOk() || again.Message() != first.Message()) {
    Fail("two answers to one archive");
  }
  if (first.IsOk() && ws.unzip) UnpackAsTheDownloadDoes(ws, bytes);
  return 0;
}
