#include "support/test_db.h"

#include <sqlite3.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "support/linux_only.h"
#include "util/encoding.h"

namespace kelvanor::testing {

namespace fs = std::filesystem;

bool RunningAsRoot() {
#ifdef _WIN32
  return false;
#else
  return ::geteuid() == 0;
#endif
}

TempDir::TempDir() {
#ifdef _WIN32
  // No mkdtemp: a name from the time and a counter, made if it is new.
  static unsigned counter = 0;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
    const fs::path candidate =
        base / ("kelvanor-test-" + std::to_string(std::random_device{}()) + "-" +
                std::to_string(++counter));
    if (fs::create_directory(candidate)) path_ = candidate.string();
  }
  if (path_.empty()) throw std::runtime_error("no temporary folder");
#else
  std::string pattern = (fs::temp_directory_path() / "kelvanor-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

namespace {
sqlite3* OpenFile(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path + ": " + msg);
  }
  sqlite3_busy_timeout(db, 5000);
  return db;
}

void Exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "?";
    sqlite3_free(err);
    throw std::runtime_error("SQL failed: " + msg + " in: " + sql.substr(0, 200));
  }
}
}  // namespace

void CreateHostDatabase(const std::string& path, const std::string& extraSql) {
  std::ifstream in(std::string(KELVANOR_FIXTURES_DIR) + "/host_schema.sql");
  if (!in) throw std::runtime_error("host_schema.sql not found");
  std::stringstream schema;
  schema << in.rdbuf();
  sqlite3* db = OpenFile(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  try {
    Exec(db, schema.str());
    if (!extraSql.empty()) Exec(db, extraSql);
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

void ExecOnFile(const std::string& path, const std::string& sql) {
  sqlite3* db = OpenFile(path, SQLITE_OPEN_READWRITE);
  try {
    Exec(db, sql);
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

std::string QueryOne(const std::string& path, const std::string& sql) {
  sqlite3* db = OpenFile(path, SQLITE_OPEN_READONLY);
  sqlite3_stmt* st = nullptr;
  std::string result = "<no row>";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    std::string msg = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error("prepare failed: " + msg);
  }
  if (sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(st, 0);
    result = text ? std::string(reinterpret_cast<const char*>(text),
                                static_cast<size_t>(sqlite3_column_bytes(st, 0)))
                  : std::string();
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return result;
}

long long QueryCount(const std::string& path, const std::string& sql) {
  sqlite3* db = OpenFile(path, SQLITE_OPEN_READONLY);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    std::string msg = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error("prepare failed: " + msg);
  }
  long long n = 0;
  while (sqlite3_step(st) == SQLITE_ROW) ++n;
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

std::string W(const std::string& utf8) { return Utf8ToCp1252(utf8); }

std::string IniText(const std::string& text) {
#ifdef _WIN32
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
#else
  return text;
#endif
}

void WriteFile(const std::string& path, const std::string& bytes) {
  // Test paths are UTF-8 (on Windows too, where a plain string is taken in
  // the ANSI code page).
  const fs::path p = fs::u8path(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

}  // namespace kelvanor::testing
