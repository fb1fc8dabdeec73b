// bench_export: times ExportMobileData on a practice database.
//
//   bench_export [--runs N] [--out DIR] PRACTICE.db
//
// Each run opens the database, exports into a fresh temporary folder (or DIR)
// and closes it again, as one sync does. Prints one line:
//   runs=N min_ms=... median_ms=... peak_rss_kb=... bytes=...
// peak_rss_kb is the process's peak resident size (getrusage), which is what
// the export holds at its largest: each query result and one file's lines.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "db/dbase.h"
#include "export/export.h"
#include "util/numbers.h"

namespace {

namespace fs = std::filesystem;
using namespace kelvanor;

[[noreturn]] void Usage() {
  std::fprintf(stderr, "usage: bench_export [--runs N] [--out DIR] PRACTICE.db\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::string out;
  std::string dbPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--out" && i + 1 < argc) {
      out = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && dbPath.empty()) {
      dbPath = arg;
    } else {
      Usage();
    }
  }
  if (dbPath.empty()) Usage();
  InitDecimalSeparatorFromLocale();

  const fs::path folder =
      out.empty() ? fs::temp_directory_path() / ("bench_export-" + std::to_string(::getpid()))
                  : fs::path(out);
  std::vector<double> times;
  uintmax_t bytes = 0;
  try {
    for (int r = 0; r < runs; ++r) {
      if (out.empty()) fs::remove_all(folder);
      const auto start = std::chrono::steady_clock::now();
      {
        TDBase db(dbPath);
        SilentExportProgress progress;
        ExportState state;
        const Outcome outcome = ExportMobileData(db, folder.string(), progress, state,
                                                 ExportEnvironment::ForThisProgram());
        if (!outcome.IsOk()) {
          std::fprintf(stderr, "bench_export: %s\n", outcome.Message().c_str());
          return 1;
        }
      }
      const auto end = std::chrono::steady_clock::now();
      times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    for (const auto& entry : fs::directory_iterator(folder)) bytes += entry.file_size();
    if (out.empty()) fs::remove_all(folder);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_export: %s\n", e.what());
    return 1;
  }

  std::sort(times.begin(), times.end());
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("runs=%d min_ms=%.1f median_ms=%.1f peak_rss_kb=%ld bytes=%ju\n", runs, times.front(),
              times[times.size() / 2], usage.ru_maxrss, bytes);
  return 0;
}
