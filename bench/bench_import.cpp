// bench_import: times ImportMobileChanges on practice databases.
//
//   bench_import [--runs N] [--lines L1,L2,...] [--keep FILE] PRACTICE.db...
//
// For every practice and line count it writes change files of mixed kinds
// (new customers, stables, horses of new and existing stables, appointments,
// orders with two horses and several items, cash entries) that name records of
// the practice and of the same run, reads them into the received-data tree and
// imports them into a fresh copy of the practice, best of N runs.
//
// The floor is the least work that yields the same database: the rows the
// import wrote (and the id counters it moved), taken from an imported copy as
// plain INSERT statements and run by the sqlite3 shell in one transaction on
// another fresh copy, start-up included. Ratio = import / floor.
//
// Beside it, the preview of the same lines: what the user sees before the
// import (every line in words, records looked up in the practice, and the
// question with its summary), best of N runs on the practice as it was. It
// should take no longer than the import: ratio preview / import. And the
// preview of the same lines once more after they were imported, as after a
// failed delete request: the journal beside the practice holds every one of
// them, and each must be shown as already imported (ratio again / import).
//
// Beside them, what an import by a sync or the CLI costs on top, growing
// with the practice, not with the lines: the restore point (the practice
// copied whole, made durable, before the first write) and the fingerprint
// of what the import leaves (every row of every table), best of N runs.
//
// --keep FILE leaves the last imported database there, for a look at what the
// import wrote.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sync/import_question.h"
#include "sync/received_tree.h"
#include "db/database_copy.h"
#include "db/dbase.h"
#include "import/import.h"
#include "import/received_preview.h"
#include "kept/restore_points.h"
#include "platform/environment.h"
#include "util/numbers.h"

namespace {

namespace fs = std::filesystem;
using namespace kelvanor;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: bench_import [--runs N] [--lines L1,L2,...] [--keep FILE] PRACTICE.db...\n");
  std::exit(2);
}

// ---- a practice read directly, outside the code being measured ----

class Sqlite {
 public:
  explicit Sqlite(const std::string& path, int flags = SQLITE_OPEN_READWRITE) {
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      sqlite3_close(db_);
      throw std::runtime_error("cannot open " + path);
    }
  }
  ~Sqlite() { sqlite3_close(db_); }
  Sqlite(const Sqlite&) = delete;
  Sqlite& operator=(const Sqlite&) = delete;

  // Every row of the first column as text.
  std::vector<std::string> Column(const std::string& sql) const {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("SQL failed: ") + sqlite3_errmsg(db_));
    }
    std::vector<std::string> values;
    while (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(st, 0);
      values.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
    }
    sqlite3_finalize(st);
    return values;
  }
  std::string One(const std::string& sql) const {
    const std::vector<std::string> values = Column(sql);
    return values.empty() ? std::string() : values.front();
  }

 private:
  sqlite3* db_ = nullptr;
};

struct PracticeIds {
  std::vector<std::string> customers, horses, stables, articles, services, suppliers;
};

PracticeIds ReadPracticeIds(const std::string& path) {
  Sqlite db(path, SQLITE_OPEN_READONLY);
  PracticeIds ids;
  ids.customers = db.Column("SELECT id FROM besitzer WHERE id <> 0 AND papierkorb = 0");
  ids.horses = db.Column("SELECT id FROM pferd WHERE id <> 0 AND papierkorb = 0");
  ids.stables = db.Column("SELECT id FROM stall WHERE id <> 0 AND papierkorb = 0");
  ids.articles = db.Column("SELECT id FROM artikel WHERE id <> 0 AND papierkorb = 0");
  ids.services = db.Column("SELECT id FROM leistungen WHERE id <> 0 AND papierkorb = 0");
  ids.suppliers = db.Column("SELECT name FROM lieferant WHERE id <> 0");
  for (const auto* list : {&ids.customers, &ids.horses, &ids.stables, &ids.articles,
                           &ids.services, &ids.suppliers}) {
    if (list->empty()) throw std::runtime_error(path + " lacks the records the changes name");
  }
  return ids;
}

// ---- the change files ----

const std::string& Pick(const std::vector<std::string>& list, std::size_t n) {
  return list[(n * 7919) % list.size()];
}

// Ten lines per round: a customer, a stable, two horses (one in the new
// stable, one in a practice stable), two appointments, two orders (one for the
// new customer and horses, not invoiced; one invoiced for practice records),
// two cash entries (the new customer, a supplier).
void WriteChangeFiles(const fs::path& folder, const PracticeIds& ids, int lines) {
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::map<std::string, std::string> files = {
      {"mob_kunde_x.txt", "id;anrede;name;vorname;kundennr;telefon;strasse;plz;ort;email;ps;handy"},
      {"mob_stall_x.txt", "id;name;ansprechpartner;telefon;strasse;plz;ort;land"},
      {"mob_pferd_x.txt", "id;name;x;rhythmus;x;naechster;stall;x;x;x;x"},
      {"mob_termin_x.txt", "id;beginn;ende;thema;ort;x;x;x;x;x;x"},
      {"mob_rech_x.txt", "x;rechnungsnr;kunde;pferde;datum;betrag;posten"},
      {"mob_kasse_x.txt", "id;moment;art;text;nr;betrag;mwst;bezug;x;x;x"}};
  for (auto& [name, text] : files) text += "\r\n";
  const int rounds = lines / 10;
  const double today = 46400;
  for (int r = 1; r <= rounds; ++r) {
    const std::string n = std::to_string(r);
    const std::string h1 = std::to_string(2 * r);
    const std::string h2 = std::to_string(2 * r + 1);
    const std::string day = FloatToDotStr(today + r % 60 + 0.375);
    files["mob_kunde_x.txt"] += "N/" + n + ";Frau;M\xFCller " + n + ";Anna;M-" + n +
                                ";0171 555;Gartenstra\xDF" "e " + n + ";21335;L\xFCneburg;;" +
                                std::to_string(1 + r % 5) + ";\r\n";
    files["mob_stall_x.txt"] += "N/" + n + ";Stall " + n + ";Herr Wei\xDF;040 1;Weg " + n +
                                ";21337;L\xFCneburg;D\r\n";
    files["mob_pferd_x.txt"] += "N/" + h1 + ";Fohlen " + h1 + ";;6 Wochen;;" + day + ";N/" + n +
                                ";;;;\r\nN/" + h2 + ";Stute " + h2 + ";;8 Wochen;;" + day + ";A/" +
                                Pick(ids.stables, r) + ";;;;\r\n";
    files["mob_termin_x.txt"] += "N/" + h1 + ";" + day + ";" + day + ";kd/N/" + n + ";Hof\r\nN/" +
                                 h2 + ";" + day + ";" + day + ";pfd/N/" + h2 + ";Stall " + n +
                                 "\r\n";
    const std::string items = "Art/" + Pick(ids.articles, r) + "|Lst/" + Pick(ids.services, r) +
                              "|Art/" + Pick(ids.articles, r + 1);
    files["mob_rech_x.txt"] += "R" + n + "a;0;N/" + n + ";N/" + h1 + "|N/" + h2 + ";" + day +
                               ";0;" + items + ";Lst/" + Pick(ids.services, r + 2) + "|" + items +
                               ";2;Typ03;JA\r\n";
    files["mob_rech_x.txt"] += "R" + n + "b;M-" + n + ";A/" + Pick(ids.customers, r) + ";A/" +
                               Pick(ids.horses, r) + "|A/" + Pick(ids.horses, r + 1) + ";" + day +
                               ";0;" + items + ";" + items + ";1;Typ01;\r\n";
    files["mob_kasse_x.txt"] += "N/" + h1 + ";" + day + ";K;Zahlung " + n + ";B-" + h1 +
                                ";119;19;N/" + n + ";;;\r\nN/" + h2 + ";" + day + ";A;Eisen;B-" +
                                h2 + ";59.5;19;" + Pick(ids.suppliers, r).substr(0, 6) + ";;;\r\n";
  }
  for (const auto& [name, text] : files) {
    std::ofstream out(folder / name, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + (folder / name).string());
  }
}

// ---- the floor ----

struct FloorScript {
  std::string sql;
  long rows = 0;
};

// The rows and counters an import added to `imported` over `practice`, as the
// statements that write them directly.
FloorScript FloorSql(const std::string& practice, const std::string& imported) {
  FloorScript floor;
  Sqlite before(practice, SQLITE_OPEN_READONLY);
  Sqlite after(imported, SQLITE_OPEN_READONLY);
  std::string& sql = floor.sql;
  sql = "BEGIN;\n";
  for (const std::string& table :
       after.Column("SELECT name FROM sqlite_master WHERE type='table' AND name <> '_tblOffsets'")) {
    const std::string last = before.One("SELECT IFNULL(MAX(rowid), 0) FROM \"" + table + "\"");
    const std::vector<std::string> columns =
        after.Column("SELECT name FROM pragma_table_info('" + table + "')");
    std::string names;
    std::string values;
    for (const std::string& column : columns) {
      names += (names.empty() ? "" : ",") + ("\"" + column + "\"");
      values += (values.empty() ? "" : "||','||") + ("quote(\"" + column + "\")");
    }
    for (const std::string& row : after.Column("SELECT " + values + " FROM \"" + table +
                                               "\" WHERE rowid > " + last + " ORDER BY rowid")) {
      sql += "INSERT INTO \"" + table + "\" (" + names + ") VALUES (" + row + ");\n";
      ++floor.rows;
    }
  }
  for (const std::string& update :
       after.Column("SELECT 'UPDATE _tblOffsets SET idMax=' || idMax || ' WHERE tbl=' || "
                    "quote(tbl) || ';' FROM _tblOffsets")) {
    sql += update + "\n";
  }
  sql += "COMMIT;\n";
  return floor;
}

double Milliseconds(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Best(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::vector<int> lineCounts = {1000, 10000};
  std::vector<std::string> practices;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--lines" && i + 1 < argc) {
      lineCounts.clear();
      std::stringstream list(argv[++i]);
      for (std::string item; std::getline(list, item, ',');) {
        const int count = std::atoi(item.c_str());
        if (count < 10) Usage();
        lineCounts.push_back(count);
      }
    } else if (arg == "--keep" && i + 1 < argc) {
      keep = argv[++i];
    } else if (!arg.empty() && arg[0] != '-') {
      practices.push_back(arg);
    } else {
      Usage();
    }
  }
  if (practices.empty() || lineCounts.empty()) Usage();
  InitDecimalSeparatorFromLocale();

  const fs::path work = fs::temp_directory_path() / ("bench_import-" + std::to_string(::getpid()));
  std::printf("Import (best of %d runs; floor = sqlite3 shell, the same rows as INSERT statements "
              "in one transaction)\n",
              runs);
  std::printf("%9s %7s | %8s | %10s | %9s | %6s | %6s | %10s | %8s | %8s | %9s | %10s | %8s\n",
              "customers", "lines", "rows", "import ms", "floor ms", "ratio", "errors",
              "preview ms", "prev/imp", "again ms", "again/imp", "restore ms", "print ms");
  try {
    fs::create_directories(work);
    for (const std::string& practice : practices) {
      const PracticeIds ids = ReadPracticeIds(practice);
      for (const int lines : lineCounts) {
        const fs::path changes = work / "tmp_dl";
        WriteChangeFiles(changes, ids, lines);
        FileTable changeFiles{};
        const char* names[] = {"mob_kunde_x.txt", "mob_stall_x.txt", "mob_pferd_x.txt",
                               "mob_rech_x.txt",  "mob_termin_x.txt", "mob_kasse_x.txt"};
        for (std::size_t i = 0; i < sizeof names / sizeof names[0]; ++i) changeFiles[i] = names[i];
        TreeModel tree;
        ReadReceivedFilesFrom(changes.string() + "/", changeFiles, nullptr, tree);

        const std::string imported = (work / "imported.db").string();
        std::vector<double> previewTimes;
        std::size_t described = 0;
        for (int r = 0; r < runs; ++r) {
          fs::copy_file(practice, imported, fs::copy_options::overwrite_existing);
          const auto start = Clock::now();
          {
            TDBase db(imported);
            described = DescribeReceived(&db, tree, nullptr).size();
            int total = 0;
            (void)BuildImportQuestion(tree, &total);
          }
          previewTimes.push_back(Milliseconds(start));
        }
        // Every line node (all but the root and the six file nodes) is described.
        if (described + 7 != tree.Count()) throw std::runtime_error("lines without preview");
        std::vector<double> importTimes;
        int errors = 0;
        for (int r = 0; r < runs; ++r) {
          fs::copy_file(practice, imported, fs::copy_options::overwrite_existing);
          const auto start = Clock::now();
          {
            TDBase db(imported);
            errors = static_cast<int>(ImportMobileChanges(db, tree).failures.size());
          }
          importTimes.push_back(Milliseconds(start));
        }
        // The restore point before and the fingerprint after, as a session
        // makes them around the import.
        std::vector<double> restoreTimes;
        std::vector<double> fingerprintTimes;
        const std::string restoreFolder = (work / "restore").string() + "/";
        for (int r = 0; r < runs; ++r) {
          fs::remove_all(restoreFolder);
          fs::copy_file(practice, imported, fs::copy_options::overwrite_existing);
          TDBase db(imported);
          auto start = Clock::now();
          (void)MakeRestorePoint(db, restoreFolder, NowCivil());
          restoreTimes.push_back(Milliseconds(start));
          (void)ImportMobileChanges(db, tree);
          start = Clock::now();
          (void)ContentFingerprint(db);
          fingerprintTimes.push_back(Milliseconds(start));
        }

        // Imported once with the journal, then previewed again.
        const std::string again = (work / "again.db").string();
        const std::string journal = (work / "again-importjournal.db").string();
        fs::copy_file(practice, again, fs::copy_options::overwrite_existing);
        fs::remove(journal);
        std::size_t notJournaled = 0;
        {
          TDBase db(again);
          const ImportSummary first = ImportMobileChanges(db, tree, journal, nullptr);
          notJournaled = first.failures.size() + first.notTaken.size();
        }
        std::vector<double> againTimes;
        std::size_t known = 0;
        for (int r = 0; r < runs; ++r) {
          const auto start = Clock::now();
          {
            TDBase db(again);
            const EarlierImports earlier = EarlierImportsForPreview(db, journal, tree);
            known = earlier.size();
            described = DescribeReceived(&db, tree, nullptr, &earlier).size();
            int total = 0;
            (void)BuildImportQuestion(tree, &total, &earlier);
          }
          againTimes.push_back(Milliseconds(start));
        }
        // Every line but the six header lines and those not imported.
        if (known + notJournaled + 6 != described) {
          throw std::runtime_error("lines not known as imported");
        }

        const FloorScript floor = FloorSql(practice, imported);
        if (!keep.empty()) fs::copy_file(imported, keep, fs::copy_options::overwrite_existing);
        const fs::path sqlFile = work / "floor.sql";
        {
          std::ofstream out(sqlFile, std::ios::binary);
          out << floor.sql;
        }
        const std::string floorDb = (work / "floor.db").string();
        const std::string command =
            "sqlite3 -batch '" + floorDb + "' < '" + sqlFile.string() + "' > /dev/null";
        std::vector<double> floorTimes;
        for (int r = 0; r < runs; ++r) {
          fs::copy_file(practice, floorDb, fs::copy_options::overwrite_existing);
          const auto start = Clock::now();
          if (std::system(command.c_str()) != 0) throw std::runtime_error("sqlite3 shell failed");
          floorTimes.push_back(Milliseconds(start));
        }

        const std::string customers =
            Sqlite(practice, SQLITE_OPEN_READONLY).One("SELECT COUNT(*) FROM besitzer WHERE id <> 0");
        const double importMs = Best(importTimes);
        const double floorMs = Best(floorTimes);
        const double previewMs = Best(previewTimes);
        const double againMs = Best(againTimes);
        std::printf("%9s %7d | %8ld | %10.1f | %9.1f | %6.2f | %6d | %10.1f | %8.2f | %8.1f | "
                    "%9.2f | %10.1f | %8.1f\n",
                    customers.c_str(), lines, floor.rows, importMs, floorMs,
                    floorMs > 0 ? importMs / floorMs : 0.0, errors, previewMs,
                    importMs > 0 ? previewMs / importMs : 0.0, againMs,
                    importMs > 0 ? againMs / importMs : 0.0, Best(restoreTimes),
                    Best(fingerprintTimes));
        std::fflush(stdout);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_import: %s\n", e.what());
    fs::remove_all(work);
    return 1;
  }
  fs::remove_all(work);
  return 0;
}
