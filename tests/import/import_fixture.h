// Shared ground for the import tests: a practice database built from the test
// host schema, change files written to a download folder, and the whole path
// files -> received-data tree -> ImportMobileChanges.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sync/received_tree.h"
#include "settings/settings.h"
#include "db/dbase.h"
#include "import/import.h"
#include "support/test_db.h"

namespace kelvanor::testing {

// The change files in the order the download folder is read.
inline FileTable TestChangeFiles() {
  FileTable files{};
  const char* names[] = {"mob_kunde_x.txt",  "mob_stall_x.txt",   "mob_pferd_x.txt",
                         "mob_kunde_pferd_x.txt", "mob_rech_x.txt", "mob_termin_x.txt",
                         "mob_kasse_x.txt",  "mob_report_x.txt",  "mob_artikel_x.txt",
                         "mob_leistung_x.txt"};
  for (std::size_t i = 0; i < sizeof names / sizeof names[0]; ++i) files[i] = names[i];
  return files;
}

// Every row of every table, in rowid order, with storage classes: two dumps
// are equal exactly when the database content is.
inline std::string DumpDatabase(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path);
  }
  std::string dump;
  std::vector<std::string> tables;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name, sql FROM sqlite_master ORDER BY name", -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) {
    tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    dump += reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
    dump += '\n';
  }
  sqlite3_finalize(st);
  for (const std::string& table : tables) {
    const std::string sql = "SELECT * FROM \"" + table + "\" ORDER BY rowid";
    sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
      dump += table + ":";
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const int type = sqlite3_column_type(st, c);
        dump += std::to_string(type) + "=";
        if (type == SQLITE_FLOAT) {
          // Every bit: text of 15 digits would hide a value off in the last.
          const double value = sqlite3_column_double(st, c);
          uint64_t bits = 0;
          std::memcpy(&bits, &value, sizeof bits);
          dump += std::to_string(bits) + '|';
          continue;
        }
        const unsigned char* text = sqlite3_column_text(st, c);
        if (text != nullptr) {
          dump.append(reinterpret_cast<const char*>(text),
                      static_cast<std::size_t>(sqlite3_column_bytes(st, c)));
        }
        dump += '|';
      }
      dump += '\n';
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return dump;
}

class ImportTest : public ::testing::Test {
 protected:
  ImportTest() : dbPath_(dir_.File("praxis.db")), downloadFolder_(dir_.Path() + "/tmp_dl/") {
    CreateHostDatabase(dbPath_);
  }

  // Writes one change file; each line ends in CR LF as the mobile writes them.
  void WriteChangeFile(const std::string& file, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\r\n";
    WriteFile(downloadFolder_ + file, bytes);
  }
  void WriteRawChangeFile(const std::string& file, const std::string& bytes) {
    WriteFile(downloadFolder_ + file, bytes);
  }

  // Reads the download folder into a tree and imports it (with a journal
  // when one is given). Errors that end the import pass on to the test.
  void RunImport(const std::string& journal = std::string()) {
    TreeModel tree;
    ReadReceivedFilesFrom(downloadFolder_, TestChangeFiles(), nullptr, tree);
    TDBase db(dbPath_);
    summary_ = ImportMobileChanges(db, tree, journal);
    errors_.clear();
    for (const LineFailure& failure : summary_.failures) errors_.push_back(failure.message);
  }

  void Exec(const std::string& sql) { ExecOnFile(dbPath_, sql); }
  std::string One(const std::string& sql) const { return QueryOne(dbPath_, sql); }
  long long Count(const std::string& sql) const { return QueryCount(dbPath_, sql); }
  std::string Dump() const { return DumpDatabase(dbPath_); }
  // The messages of the lines that failed in the last run.
  const std::vector<std::string>& Errors() const { return errors_; }
  const ImportSummary& Summary() const { return summary_; }

  TempDir dir_;
  std::string dbPath_;
  std::string downloadFolder_;
  ImportSummary summary_;
  std::vector<std::string> errors_;
};

}  // namespace kelvanor::testing
