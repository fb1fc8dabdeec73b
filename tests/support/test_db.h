// Test support: temporary folders and practice databases built from the test
// host schema (tests/fixtures/host_schema.sql).
#pragma once

#include <string>

namespace kelvanor::testing {

// A fresh folder under the system's temp folder, removed with everything in it
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Ends without separator.
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Creates `path` as a database with the host schema; `extraSql` runs after it.
void CreateHostDatabase(const std::string& path, const std::string& extraSql = "");

// Runs SQL on a database file through a separate connection (setup, checks).
void ExecOnFile(const std::string& path, const std::string& sql);
// First column of the first row as text ("" for NULL, "<no row>" when none).
std::string QueryOne(const std::string& path, const std::string& sql);
// Count of rows of a query.
long long QueryCount(const std::string& path, const std::string& sql);

// Windows-1252 bytes from a UTF-8 literal, for readable tests: W("Müller").
std::string W(const std::string& utf8);

// Writes bytes to a file, creating parent folders.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// An ini file's text as the tool writes it on this system: on Windows every
// bare line feed of `text` becomes CR LF.
std::string IniText(const std::string& text);

}  // namespace kelvanor::testing
