// fuzz_import: arbitrary bytes as the mobile's change files, read into the
// received-data tree the way a download is read and imported as a whole into
// a small practice database.
//
// Input layout:
//   byte 0      the run's settings: bits 0-1 the practice's currency (0 no
//               settings row, 1 hauptwaehrung 0, 2 or 3 hauptwaehrung 1),
//               bit 2 the decimal separator ("," when set, else ".")
//   the rest    chunks separated by the byte 0x1E; a chunk's first byte picks
//               the change file (modulo 10), the rest of it is appended there
//
// What must hold for every input: the import either finishes, or ends with
// one of the tool's own errors and leaves the database as it was; no other
// exception, no crash, no sanitizer report, no table dropped.
#include <sqlite3.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sync/received_tree.h"
#include "db/dbase.h"
#include "import/import.h"
#include "util/errors.h"
#include "util/numbers.h"

namespace {

namespace fs = std::filesystem;
using namespace kelvanor;

constexpr char kChunkSeparator = '\x1E';
constexpr int kCurrencyVariants = 3;

const char* const kChangeFiles[] = {
    "mob_kunde_x.txt",   "mob_stall_x.txt",  "mob_pferd_x.txt",  "mob_kunde_pferd_x.txt",
    "mob_rech_x.txt",    "mob_termin_x.txt", "mob_kasse_x.txt",  "mob_report_x.txt",
    "mob_artikel_x.txt", "mob_leistung_x.txt"};
constexpr std::size_t kFileCount = sizeof kChangeFiles / sizeof kChangeFiles[0];

// A small practice with what the change files refer to: customers, stables,
// horses, articles and services (one of each kind of awkward value), order
// types, shoeing intervals and suppliers whose names hold LIKE wildcards.
const char kPracticeRows[] =
    "INSERT INTO besitzer (id,name,vorname,debitornr) VALUES (0,'',NULL,0),"
    " (1,'Meier','Anna',40),(2,'O''Neill','',41),(3,'Schulz',NULL,0);"
    "INSERT INTO stall (id,name) VALUES (0,''),(1,'Reitstall Sonnenhof'),(2,'Hof 100%');"
    "INSERT INTO pferd (id,name) VALUES (0,''),(1,'Blitz'),(2,'Luna'),(3,'Max');"
    "INSERT INTO verbind (id,pferdindex,besitzerindex) VALUES (1,1,1),(2,2,1),(3,3,2);"
    "INSERT INTO verbindstall (id,stallindex,pferdindex) VALUES (1,1,1),(2,2,2);"
    "INSERT INTO termine (id,beginn,thema) VALUES (1,46000,'kd/A/1');"
    "INSERT INTO artikel (id,nr,bezeichnung,mwst,vkpreis1,vkpreis2,vkpreis3,vkpreis1euro,"
    " vkpreis2euro,vkpreis3euro) VALUES (0,NULL,'',0,0,0,0,0,0,0),"
    " (1,'1001','Eisen \"Gr. 2\"',19,10,11,12,20,21,22),(2,'A-7','Stollen',7,1.5,NULL,2,3,NULL,4),"
    " (3,NULL,'-1',19,5,5,5,5,5,5);"
    "INSERT INTO leistungen (id,nr,bezeichnung,mwst,arbeitsdauer,preis1,preis2,preis1euro,"
    " preis2euro) VALUES (0,NULL,'',0,0,0,0,0,0),(1,'101','Beschlag vorne',19,45,60,65,70,75),"
    " (2,'102','Ausschneiden',19,NULL,30,NULL,35,NULL);"
    "INSERT INTO zauftragstyp (nid,text) VALUES (-1,'Ohne Typ'),(1,'Rechnung'),(5,'Mobil');"
    "INSERT INTO zbeschlagsrhythmus (nid,text) VALUES (6,'6 Wochen'),(8,'8 Wochen');"
    "INSERT INTO lieferant (id,name) VALUES (1,'Hufbedarf M\xFCller'),(2,'100% Huf_Bedarf'),"
    " (3,'O''Brien \\ Co');"
    "UPDATE _tblOffsets SET idMax=3 WHERE tbl IN ('Besitzer','Pferd','Verbind','Artikel',"
    " 'Lieferant');"
    "UPDATE _tblOffsets SET idMax=2 WHERE tbl IN ('Stall','VerbindStall','Leistungen');"
    "UPDATE _tblOffsets SET idMax=1 WHERE tbl='Termine';";

const char* const kCurrencyRows[kCurrencyVariants] = {
    "", "INSERT INTO settings (basiswaehrung,hauptwaehrung) VALUES ('DM',0);",
    "INSERT INTO settings (basiswaehrung,hauptwaehrung) VALUES ('EUR',1);"};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_import: %s\n", what.c_str());
  std::abort();
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("cannot write " + path);
}

void ExecOn(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "?";
    sqlite3_free(error);
    Fail("setup SQL failed: " + message);
  }
}

std::string FirstColumn(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  std::string value;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0) != nullptr) {
    value = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  }
  sqlite3_finalize(st);
  return value;
}

std::string SchemaText(sqlite3* db) {
  return FirstColumn(db, "SELECT group_concat(sql, char(10)) FROM "
                         "(SELECT sql FROM sqlite_master ORDER BY name)");
}

// The schema, the rows of every table and the id counters: what an import
// that ended with an error must leave exactly as it found it.
std::string Fingerprint(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    Fail("cannot open " + path);
  }
  std::string print = SchemaText(db);
  const std::string tables = FirstColumn(
      db, "SELECT group_concat(name, char(10)) FROM "
          "(SELECT name FROM sqlite_master WHERE type='table' ORDER BY name)");
  std::size_t start = 0;
  while (start < tables.size()) {
    std::size_t end = tables.find('\n', start);
    if (end == std::string::npos) end = tables.size();
    const std::string table = tables.substr(start, end - start);
    print += "\n" + table + ":" +
             FirstColumn(db, "SELECT COUNT(*)||'/'||TOTAL(rowid) FROM \"" + table + "\"");
    start = end + 1;
  }
  print += "\n" + FirstColumn(db, "SELECT group_concat(tbl||'='||idMax) FROM _tblOffsets");
  sqlite3_close(db);
  return print;
}

std::string SchemaOf(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    Fail("cannot open " + path);
  }
  const std::string schema = SchemaText(db);
  sqlite3_close(db);
  return schema;
}

struct Workspace {
  std::string root;
  std::string dbPath;
  std::string downloadFolder;
  FileTable changeFiles{};
  std::string templates[kCurrencyVariants];
  std::string templatePrints[kCurrencyVariants];
  std::string schema;
};

Workspace& TheWorkspace() {
  static Workspace* ws = [] {
    auto* w = new Workspace;
    const char* shm = "/dev/shm";
    std::string pattern =
        (fs::is_directory(shm) ? fs::path(shm) : fs::temp_directory_path()) / "kelvanor-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp failed");
    w->root = pattern;
    w->dbPath = w->root + "/praxis.db";
    w->downloadFolder = w->root + "/tmp_dl/";
    fs::create_directories(w->downloadFolder);
    for (std::size_t i = 0; i < kFileCount; ++i) w->changeFiles[i] = kChangeFiles[i];

    const std::string schema = ReadFileBytes(KELVANOR_SOURCE_DIR "/tests/fixtures/host_schema.sql");
    for (int variant = 0; variant < kCurrencyVariants; ++variant) {
      const std::string path = w->root + "/template.db";
      fs::remove(path);
      sqlite3* db = nullptr;
      if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Fail("cannot create " + path);
      ExecOn(db, schema);
      ExecOn(db, kPracticeRows);
      ExecOn(db, kCurrencyRows[variant]);
      sqlite3_close(db);
      w->templates[variant] = ReadFileBytes(path);
      w->templatePrints[variant] = Fingerprint(path);
      w->schema = SchemaOf(path);
      fs::remove(path);
    }
    return w;
  }();
  return *ws;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Workspace& ws = TheWorkspace();

  // The change files of this input.
  std::string files[kFileCount];
  bool present[kFileCount] = {};
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t start = 0;
  while (start < rest.size()) {
    std::size_t end = rest.find(kChunkSeparator, start);
    if (end == std::string::npos) end = rest.size();
    if (end > start) {
      const std::size_t file = static_cast<unsigned char>(rest[start]) % kFileCount;
      files[file].append(rest, start + 1, end - start - 1);
      present[file] = true;
    }
    start = end + 1;
  }
  for (std::size_t i = 0; i < kFileCount; ++i) {
    const std::string path = ws.downloadFolder + kChangeFiles[i];
    if (present[i]) {
      WriteFileBytes(path, files[i]);
    } else {
      std::error_code ignored;
      fs::remove(path, ignored);
    }
  }

  const int variant = (data[0] & 3) == 3 ? 2 : data[0] & 3;
  std::error_code ignored;
  fs::remove(ws.dbPath + "-journal", ignored);
  WriteFileBytes(ws.dbPath, ws.templates[variant]);
  ScopedDecimalSeparator separator((data[0] & 4) != 0 ? ',' : '.');

  TreeModel tree;
  try {
    ReadReceivedFilesFrom(ws.downloadFolder, ws.changeFiles, nullptr, tree);
  } catch (const kelvanor::Exception&) {
    return 0;  // refused as it arrived (a NUL byte in a line): nothing is imported
  }
  // A fresh journal each time, so its lines are journaled and rolled back
  // with the records.
  const std::string journal = ws.root + "/journal.db";
  fs::remove(journal, ignored);
  bool ended = false;
  {
    TDBase db(ws.dbPath);
    try {
      ImportMobileChanges(db, tree, journal);
    } catch (const kelvanor::Exception&) {
      // The import may end with one of the tool's own errors, but then
      // nothing of the run may stay.
      ended = true;
    }
  }
  if (ended) {
    if (Fingerprint(ws.dbPath) != ws.templatePrints[variant]) {
      Fail("an import that ended with an error left rows behind");
    }
  } else if (SchemaOf(ws.dbPath) != ws.schema) {
    Fail("the import changed the schema");
  }
  return 0;
}
