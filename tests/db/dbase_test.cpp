// TDBase and TDBTable on a practice database built from the host schema.
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/dbase.h"
#include "db/sqlite_database.h"
#include "db/sql.h"
#include "support/test_db.h"

namespace kelvanor {
namespace {

using ::testing::MatchesRegex;
using testing::CreateHostDatabase;
using testing::ExecOnFile;
using testing::QueryCount;
using testing::QueryOne;
using testing::TempDir;

template <typename Error, typename Body>
std::string ErrorOf(Body body) {
  try {
    body();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

class DBaseTest : public ::testing::Test {
 protected:
  void Open(const std::string& extraSql = "") {
    path_ = dir_.File("praxis.db");
    CreateHostDatabase(path_, extraSql);
    db_ = std::make_unique<TDBase>(path_);
  }
  std::string One(const std::string& sql) const { return QueryOne(path_, sql); }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<TDBase> db_;
};

// ---- opening and closing ----

TEST(DBaseOpen, MissingFileFailsTheAssertionAndCreatesNothing) {
  TempDir dir;
  const std::string path = dir.File("tessavor.db");
  EXPECT_THAT(ErrorOf<EAssertionFailed>([&] { TDBase db(path); }),
              MatchesRegex("Datenbank-Datei nicht gefunden! \\(uDB\\.cpp, Zeile .+\\)"));
  EXPECT_FALSE(std::filesystem::exists(path));
  // A folder of that name is no database file either.
  EXPECT_FALSE(ErrorOf<EAssertionFailed>([&] { TDBase db(dir.Path()); }).empty());
}

TEST_F(DBaseTest, ClosedDatabaseGivesEmptyResultsAndRefusesStatements) {
  Open("INSERT INTO besitzer (id, name) VALUES (1, 'A');");
  db_->Close();
  db_->Close();  // a second close does nothing
  EXPECT_TRUE(db_->IsClosed());
  auto rows = db_->Query("SELECT * FROM besitzer");
  EXPECT_TRUE(rows->Eof());
  EXPECT_EQ(rows->RowCount(), 0);
  EXPECT_FALSE(rows->Next());
  EXPECT_FALSE(db_->Execute("DELETE FROM besitzer;"));
  EXPECT_EQ(db_->InsertRecord("INSERT INTO besitzer (name) VALUES ('B');", "besitzer", "id"), 0);
  EXPECT_EQ(QueryCount(path_, "SELECT * FROM besitzer"), 1);
}

// ---- Query and Execute ----

TEST_F(DBaseTest, MissingTableRaisesThroughQueryAndIsFalseThroughExecute) {
  Open();
  EXPECT_EQ(ErrorOf<ESQLiteException>([&] { db_->Query("SELECT * FROM kunden"); }),
            "Error executing SQL \"SELECT * FROM kunden\" : no such table: kunden");
  EXPECT_FALSE(db_->Execute("SELECT * FROM kunden"));
  EXPECT_FALSE(db_->Execute("SELECT * FROM _tblOffsets"));  // yields rows: not a statement
  EXPECT_TRUE(db_->Execute("UPDATE besitzer SET name = 'x';"));
}

TEST_F(DBaseTest, RowCountIsTheTotalUntilTheEnd) {
  Open("INSERT INTO besitzer (id) VALUES (1), (2), (3);");
  auto rows = db_->Query("SELECT id FROM besitzer ORDER BY id");
  EXPECT_EQ(rows->RowCount(), 3);
  rows->Next();
  rows->Next();
  EXPECT_EQ(rows->FieldAsString("id"), "3");
  EXPECT_EQ(rows->RowCount(), 3);
  EXPECT_TRUE(rows->Next());
  EXPECT_TRUE(rows->Eof());
  EXPECT_EQ(rows->RowCount(), 0);
  EXPECT_EQ(ErrorOf<ESQLiteException>([&] { rows->FieldAsString("id"); }),
            "Table is at End of File");
}

TEST_F(DBaseTest, FieldReadsByNameGiveTextForms) {
  Open("INSERT INTO besitzer (id, debitornr, name, erstelltam) VALUES (5, NULL, NULL, 46363.5);");
  auto rows = db_->Query("SELECT id, debitornr, name, erstelltam FROM besitzer");
  EXPECT_EQ(rows->FieldAsVariant("debitornr").AsString(), "0");
  EXPECT_EQ(rows->FieldAsString("debitornr"), "");
  EXPECT_EQ(rows->FieldAsVariant("name").AsString(), "");
  EXPECT_EQ(rows->FieldAsVariant("ID").AsInteger() + 1, 6);
  EXPECT_DOUBLE_EQ(rows->FieldAsVariant("erstelltam").AsDouble(), 46363.5);
  EXPECT_EQ(ErrorOf<ESQLiteException>([&] { rows->FieldAsString("kundenid"); }),
            "Field not found in dataset: kundenid");

  // Without rows the name lookup fails before the end-of-file check.
  auto none = db_->Query("SELECT id FROM besitzer WHERE id = 99");
  EXPECT_EQ(ErrorOf<ESQLiteException>([&] { none->FieldAsString("id"); }),
            "Field id Not found. Empty dataset");
}

// ---- ids from _tblOffsets ----

TEST_F(DBaseTest, InsertTakesTheNextIdOfTheCaseInsensitiveCounter) {
  Open("UPDATE _tblOffsets SET idMax = 41 WHERE tbl = 'Besitzer';"
       "INSERT INTO besitzer (id, name) VALUES (41, 'Alt');");
  const int32_t id =
      db_->InsertRecord("INSERT INTO besitzer (name) VALUES ('Neu');", "besitzer", "id");
  EXPECT_EQ(id, 42);
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl = 'Besitzer'"), "42");
  EXPECT_EQ(One("SELECT id FROM besitzer WHERE name = 'Neu'"), "42");
  EXPECT_EQ(One("SELECT id FROM besitzer WHERE name = 'Alt'"), "41");
  EXPECT_EQ(db_->InsertRecord("INSERT INTO besitzer (name) VALUES ('Noch');", "BESITZER", "id"), 43);
}

TEST_F(DBaseTest, TableWithoutCounterRowGetsIdOneEveryTime) {
  Open("CREATE TABLE notiz (nid INTEGER DEFAULT 0, text TEXT);");
  EXPECT_EQ(db_->InsertRecord("INSERT INTO notiz (text) VALUES ('a');", "notiz", "nid"), 1);
  EXPECT_EQ(db_->InsertRecord("INSERT INTO notiz (text) VALUES ('b');", "notiz", "nid"), 1);
  EXPECT_EQ(QueryCount(path_, "SELECT * FROM notiz WHERE nid = 1"), 2);
  EXPECT_EQ(One("SELECT COUNT(*) FROM _tblOffsets WHERE LOWER(tbl) = 'notiz'"), "0");
}

TEST_F(DBaseTest, TableNamedLikeACounterColumnFindsItsOwnRow) {
  // Between double quotes "idmax" would name the column and compare idMax
  // with itself; the counter value must be read as a value.
  Open("CREATE TABLE idmax (id INTEGER DEFAULT 0, t TEXT);"
       "CREATE TABLE tbl (id INTEGER DEFAULT 0, t TEXT);"
       "INSERT INTO _tblOffsets VALUES ('IdMax', 7), ('tbl', 70);");
  EXPECT_EQ(db_->InsertRecord("INSERT INTO idmax (t) VALUES ('x');", "idmax", "id"), 8);
  EXPECT_EQ(db_->InsertRecord("INSERT INTO tbl (t) VALUES ('x');", "tbl", "id"), 71);
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl = 'Besitzer'"), "0");
}

TEST_F(DBaseTest, TableNameOutsidePlainLettersIsRefused) {
  Open();
  EXPECT_EQ(db_->InsertRecord("INSERT INTO besitzer (name) VALUES ('x');",
                              "besitzer' OR '1'='1", "id"),
            0);
  EXPECT_EQ(QueryCount(path_, "SELECT * FROM besitzer"), 0);
  EXPECT_EQ(One("SELECT SUM(idMax) FROM _tblOffsets"), "0");
}

TEST_F(DBaseTest, FailedInsertGivesNoIdAndLeavesTheCounter) {
  Open("UPDATE _tblOffsets SET idMax = 10 WHERE tbl = 'Besitzer';"
       "CREATE UNIQUE INDEX kdnr ON besitzer (kundennr);");
  ASSERT_EQ(db_->InsertRecord("INSERT INTO besitzer (kundennr) VALUES ('K1');", "besitzer", "id"), 11);

  // Fails while running (duplicate), and fails to prepare (unknown column).
  EXPECT_EQ(db_->InsertRecord("INSERT INTO besitzer (kundennr) VALUES ('K1');", "besitzer", "id"), 0);
  EXPECT_EQ(db_->InsertRecord("INSERT INTO besitzer (gibtsnicht) VALUES (1);", "besitzer", "id"), 0);
  // Inserts no row at all.
  EXPECT_EQ(db_->InsertRecord("INSERT INTO besitzer (kundennr) SELECT 'K2' WHERE 0;", "besitzer",
                              "id"),
            0);

  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl = 'Besitzer'"), "11");
  EXPECT_EQ(One("SELECT group_concat(id) FROM besitzer"), "11");
  // Given as columns and values, inside a transaction or not: the same.
  for (const bool inTransaction : {false, true}) {
    auto insert = [&] {
      EXPECT_EQ(db_->InsertRecordBound("besitzer", {"kundennr"}, {SqlParam::Text("K1")},
                                       "id"),
                0);
    };
    if (inTransaction) {
      db_->RunInTransaction(insert);
    } else {
      insert();
    }
  }
  // The checked forms say why instead of giving 0 or false.
  EXPECT_THAT(ErrorOf<ERecordRefused>([&] {
                db_->InsertRecordChecked("INSERT INTO besitzer (kundennr) VALUES ('K1');",
                                         "besitzer", "id");
              }),
              ::testing::HasSubstr("UNIQUE constraint failed"));
  EXPECT_THAT(ErrorOf<ERecordRefused>([&] { db_->ExecuteChecked("UPDATE besitzer SET x = 1;"); }),
              ::testing::HasSubstr("no such column: x"));
  // No transaction or savepoint is left open: the next insert commits.
  EXPECT_EQ(db_->InsertRecord("INSERT INTO besitzer (kundennr) VALUES ('K3');", "besitzer", "id"), 12);
  EXPECT_EQ(db_->InsertRecordBound("besitzer", {"kundennr"}, {SqlParam::Text("K4")}, "id"), 13);
  EXPECT_EQ(One("SELECT group_concat(id || kundennr) FROM besitzer"), "11K1,12K3,13K4");
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl = 'Besitzer'"), "13");
}

TEST_F(DBaseTest, AFailureOfTheFileIsNeverAPlainFalse) {
  Open("INSERT INTO besitzer (id, name) VALUES (1, 'Alt');");
  // A database that cannot grow fails like a full disk does.
  const std::string pages = One("PRAGMA page_count");
  db_->Query("PRAGMA max_page_count = " + pages);  // answers with the new limit
  const std::string longText = "'" + std::string(100000, 'x') + "'";
  try {
    db_->Execute("UPDATE besitzer SET name = " + longText + ";");
    FAIL() << "a full database reported as a refused statement";
  } catch (const EDatabaseFailure& e) {
    EXPECT_EQ(e.Cause(), "Der Datentr\xE4ger ist voll");
    EXPECT_THAT(e.UserMessage(), ::testing::HasSubstr("database or disk is full"));
  }
  EXPECT_THROW(db_->InsertRecord("INSERT INTO besitzer (name) VALUES (" + longText + ");",
                                 "besitzer", "id"),
               EDatabaseFailure);
  // Nothing is left half-done and the connection goes on.
  EXPECT_EQ(One("SELECT group_concat(id || name) FROM besitzer"), "1Alt");
  EXPECT_EQ(db_->InsertRecord("INSERT INTO besitzer (name) VALUES ('Neu');", "besitzer", "id"), 1);
}

TEST_F(DBaseTest, InsertUpdatesTheRowByItsFullRowid) {
  Open("INSERT INTO besitzer (rowid, id, name) VALUES (2, 2, 'Zwei');");
  // The new row's rowid is 2^32 + 2: its low 32 bits name the row 'Zwei'.
  const int32_t id = db_->InsertRecord("INSERT INTO besitzer (rowid, name) VALUES (4294967298, 'Neu');",
                                       "besitzer", "id");
  EXPECT_EQ(id, 1);
  EXPECT_EQ(One("SELECT id FROM besitzer WHERE name = 'Neu'"), "1");
  EXPECT_EQ(One("SELECT id FROM besitzer WHERE name = 'Zwei'"), "2");
}

// ---- transactions ----

TEST_F(DBaseTest, BlockThatThrowsLeavesTheDatabaseAsBefore) {
  Open("UPDATE _tblOffsets SET idMax = 5 WHERE tbl = 'Pferd';");
  EXPECT_THROW(db_->RunInTransaction([&] {
    EXPECT_EQ(db_->InsertRecord("INSERT INTO pferd (name) VALUES ('Blitz');", "pferd", "id"), 6);
    EXPECT_TRUE(db_->Execute("UPDATE _tblOffsets SET idMax = 99 WHERE tbl = 'Stall';"));
    throw std::runtime_error("Abbruch");
  }),
               std::runtime_error);
  EXPECT_EQ(QueryCount(path_, "SELECT * FROM pferd"), 0);
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl = 'Pferd'"), "5");
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl = 'Stall'"), "0");

  // The connection is back in autocommit: a later insert stands on its own.
  EXPECT_EQ(db_->InsertRecord("INSERT INTO pferd (name) VALUES ('Blitz');", "pferd", "id"), 6);
  EXPECT_EQ(One("SELECT id FROM pferd"), "6");
}

TEST_F(DBaseTest, BlockCommitsItsInsertsAndANestedFailureOnlyUndoesItself) {
  Open();
  db_->RunInTransaction([&] {
    EXPECT_EQ(db_->InsertRecord("INSERT INTO stall (name) VALUES ('Hof');", "stall", "id"), 1);
    // A failed insert inside the block does not end the block's transaction.
    EXPECT_EQ(db_->InsertRecord("INSERT INTO stall (fehlt) VALUES (1);", "stall", "id"), 0);
    try {
      db_->RunInTransaction([&] {
        db_->InsertRecord("INSERT INTO stall (name) VALUES ('Weg');", "stall", "id");
        throw std::runtime_error("innen");
      });
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(db_->InsertRecord("INSERT INTO stall (name) VALUES ('Koppel');", "stall", "id"), 2);
  });
  EXPECT_EQ(One("SELECT group_concat(name || '=' || id, ',') FROM stall"), "Hof=1,Koppel=2");
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl = 'Stall'"), "2");

  // The same with the rows given as values (the import's way, the counter
  // stepped in memory until the commit), savepoints two deep; the next
  // transaction reads the counter the commit wrote.
  for (const char* second : {"Weide", "Paddock"}) {
    db_->RunInTransaction([&] {
      const int32_t first =
          db_->InsertRecordBound("stall", {"name"}, {SqlParam::Text("Halle")}, "id");
      try {
        db_->RunInTransaction([&] {
          db_->InsertRecordBound("stall", {"name"}, {SqlParam::Text("Weg")}, "id");
          db_->RunInTransaction(
              [&] { db_->InsertRecordBound("stall", {"name"}, {SqlParam::Text("Weg")}, "id"); });
          throw std::runtime_error("innen");
        });
      } catch (const std::runtime_error&) {
      }
      EXPECT_EQ(db_->InsertRecordBound("stall", {"name"}, {SqlParam::Text(second)}, "id"),
                first + 1);
    });
  }
  EXPECT_EQ(One("SELECT group_concat(name || '=' || id, ',') FROM stall"),
            "Hof=1,Koppel=2,Halle=3,Weide=4,Halle=5,Paddock=6");
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl = 'Stall'"), "6");

  // A row refused under a ROLLBACK rule takes the whole transaction with it:
  // that ends the block as a failure, and nothing after it is written.
  ASSERT_TRUE(db_->Execute("CREATE TRIGGER nein BEFORE INSERT ON stall WHEN NEW.name = 'Nein' "
                           "BEGIN SELECT RAISE(ROLLBACK, 'abgelehnt'); END;"));
  EXPECT_THROW(db_->RunInTransaction([&] {
    db_->InsertRecord("INSERT INTO stall (name) VALUES ('Vorher');", "stall", "id");
    db_->InsertRecord("INSERT INTO stall (name) VALUES ('Nein');", "stall", "id");
    db_->InsertRecord("INSERT INTO stall (name) VALUES ('Nachher');", "stall", "id");
  }), EDatabaseFailure);
  EXPECT_EQ(One("SELECT group_concat(name, ',') FROM stall"), "Hof,Koppel,Halle,Weide,Halle,Paddock");
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl = 'Stall'"), "6");
}

TEST_F(DBaseTest, StatementWaitsForALockTheHostReleases) {
  Open();
  sqlite3* host = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &host), SQLITE_OK);
  // Our connection's retries hold a read lock for a moment; the host's commit
  // waits for it as the host application itself would.
  sqlite3_busy_timeout(host, 5000);
  ASSERT_EQ(sqlite3_exec(host, "BEGIN IMMEDIATE; UPDATE besitzer SET name = 'Host';", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  int commit = -1;
  std::thread release([host, &commit] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    commit = sqlite3_exec(host, "COMMIT;", nullptr, nullptr, nullptr);
  });
  const int32_t id =
      db_->InsertRecord("INSERT INTO besitzer (name) VALUES ('Mobil');", "besitzer", "id");
  const bool updated = db_->Execute("UPDATE besitzer SET vorname = 'Eva';");
  release.join();
  sqlite3_close(host);
  EXPECT_EQ(commit, SQLITE_OK);
  EXPECT_EQ(id, 1);
  EXPECT_TRUE(updated);
  EXPECT_EQ(One("SELECT id || vorname FROM besitzer WHERE name = 'Mobil'"), "1Eva");
}

// ---- values written through SqlString ----

TEST_F(DBaseTest, QuotedValuesAreStoredIntactAndStayValues) {
  Open("INSERT INTO besitzer (id, name, vorname) VALUES (1, 'Alt', 'Anna');");
  const std::string quoted = "O'Brien \"Hufe\"";
  ASSERT_TRUE(db_->Execute("UPDATE besitzer SET name = " + SqlString(quoted) + " WHERE id = 1;"));
  // The value "vorname" equals a column name; it must be stored as text.
  ASSERT_TRUE(db_->Execute("UPDATE besitzer SET ort = " + SqlString("vorname") + " WHERE id = 1;"));
  auto row = db_->Query("SELECT name, ort FROM besitzer WHERE name = " + SqlString(quoted));
  ASSERT_FALSE(row->Eof());
  EXPECT_EQ(row->FieldAsString("name"), quoted);
  EXPECT_EQ(row->FieldAsString("ort"), "vorname");
}

// A bound number is stored with the very bits its literal in a statement
// gets, also where SQLite's reading is off in the last bit, and an exponent
// too large is infinity there as in a literal.
TEST_F(DBaseTest, BoundNumbersAreStoredAsTheirLiterals) {
  Open();
  for (const char* literal : {"0.0148899999985588", "46400.5", "-2.5E-3", "1E999", "1E-400"}) {
    ASSERT_TRUE(db_->Execute(std::string("INSERT INTO kasse (id, betrag) VALUES (1, ") + literal + ")"));
    ASSERT_TRUE(db_->ExecuteBound("INSERT INTO kasse (id, betrag) VALUES (2, ?1)",
                                  {SqlParam::Number(literal)}));
    EXPECT_EQ(One("SELECT COUNT(DISTINCT betrag) || typeof(max(betrag)) FROM kasse"), "1real")
        << literal;
    ASSERT_TRUE(db_->Execute("DELETE FROM kasse"));
  }
  EXPECT_THROW(SqlParam::Number("12a"), EConvertError);
}

}  // namespace
}  // namespace kelvanor
