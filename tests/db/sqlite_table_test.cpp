// The SQLite connection and in-memory result tables on real database files.
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "db/sqlite_database.h"
#include "support/test_db.h"
#include "util/numbers.h"

namespace kelvanor {
namespace {

using testing::ExecOnFile;
using testing::QueryOne;
using testing::TempDir;
using testing::W;

// The message of the ESQLiteException `body` raises ("" when none).
template <typename Body>
std::string ErrorOf(Body body) {
  try {
    body();
  } catch (const ESQLiteException& e) {
    return e.what();
  }
  return "";
}

// A fresh database file holding what `sql` creates.
std::string NewDb(const TempDir& dir, const std::string& sql) {
  const std::string path = dir.File("t.db");
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return path;
}

TEST(SQLiteDatabaseOpen, MissingFileIsNotCreatedAndNamesTheFileAsGiven) {
  TempDir dir;
  const std::string path = dir.File("fehlt.db");
  const std::string error = ErrorOf([&] { TSQLiteDatabase db(path); });
  EXPECT_EQ(error, "Failed to open database \"" + path + "\" : unable to open database file");
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SQLiteDatabaseOpen, Windows1252FileNameOpensTheUtf8File) {
  TempDir dir;
  NewDb(dir, "");
  std::filesystem::rename(std::filesystem::u8path(dir.File("t.db")),
                          std::filesystem::u8path(dir.File("Praxis M\xC3\xBCller.db")));
  TSQLiteDatabase db(dir.File(W("Praxis Müller.db")));
  db.ExecSQL("CREATE TABLE x (a INTEGER);");
  EXPECT_EQ(QueryOne(dir.File("Praxis M\xC3\xBCller.db"), "SELECT COUNT(*) FROM x"), "0");
}

TEST(SQLiteDatabaseExec, ErrorsCarryTheStatementAndSQLiteText) {
  TempDir dir;
  const std::string path = NewDb(dir, "CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);");
  TSQLiteDatabase db(path);

  EXPECT_EQ(ErrorOf([&] { db.ExecSQL("DELETE FROM fehlt;"); }),
            "Error executing SQL \"DELETE FROM fehlt;\" : no such table: fehlt");
  EXPECT_EQ(ErrorOf([&] { db.GetTable("SELECT * FROM fehlt"); }),
            "Error executing SQL \"SELECT * FROM fehlt\" : no such table: fehlt");
  // A statement that yields a row is not a statement ExecSQL runs.
  EXPECT_EQ(ErrorOf([&] { db.ExecSQL("SELECT a FROM t;"); }),
            "Error executing SQL statement \"SELECT a FROM t;\" : another row available");
  // Nothing to prepare: no SQLite error, so the message stands alone.
  EXPECT_EQ(ErrorOf([&] { db.ExecSQL("   -- nur ein Kommentar"); }),
            "Could not prepare SQL statement");
  EXPECT_EQ(ErrorOf([&] { db.GetTable(""); }), "Could not prepare SQL statement");

  // The connection stays usable after each failure.
  db.ExecSQL("UPDATE t SET a = 2;");
  EXPECT_EQ(QueryOne(path, "SELECT a FROM t"), "2");
}

TEST(SQLiteDatabaseExec, OnlyTheFirstStatementOfATextRuns) {
  TempDir dir;
  const std::string path = NewDb(dir, "CREATE TABLE t (a INTEGER, b INTEGER); INSERT INTO t VALUES (0, 0);");
  TSQLiteDatabase db(path);
  db.ExecSQL("UPDATE t SET a = 1; UPDATE t SET b = 1;");
  EXPECT_EQ(QueryOne(path, "SELECT a || '/' || b FROM t"), "1/0");
  auto table = db.GetTable("SELECT a FROM t; DELETE FROM t;");
  EXPECT_EQ(table->Count(), 1);
  EXPECT_EQ(QueryOne(path, "SELECT COUNT(*) FROM t"), "1");
}

TEST(SQLiteDatabaseExec, LastInsertRowIdKeepsTheLow32Bits) {
  TempDir dir;
  const std::string path = NewDb(dir, "CREATE TABLE t (a TEXT);");
  TSQLiteDatabase db(path);
  db.ExecSQL("INSERT INTO t (rowid, a) VALUES (4294967298, 'x');");  // 2^32 + 2
  EXPECT_EQ(db.GetLastInsertRowID(), 2);
  db.ExecSQL("INSERT INTO t (rowid, a) VALUES (2147483648, 'y');");  // 2^31
  EXPECT_EQ(db.GetLastInsertRowID(), INT32_MIN);
}

// ---- declared types decide how values read ----

class ColumnTypes : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = NewDb(dir_,
                  "CREATE TABLE v (i INTEGER, lower_int integer, short_int INT, b BOOLEAN,"
                  " r REAL, n NUMERIC, f FLOAT, d DOUBLE, t TEXT, vc VARCHAR(50), bl BLOB,"
                  " lower_real Real, lower_bool boolean);"
                  "INSERT INTO v VALUES (4294967297, '17', '18', 1, 12.5, 3, -2.75, 1e20,"
                  " 'Text', 'Kurz', x'00410042', 2.5, 1);"
                  "INSERT INTO v VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
                  " NULL, NULL, x'', NULL, NULL);"
                  "CREATE VIEW w AS SELECT lower_int AS li, i AS ii FROM v;");
    db_ = std::make_unique<TSQLiteDatabase>(path_);
  }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<TSQLiteDatabase> db_;
};

TEST_F(ColumnTypes, OnlyTheExactUpperCaseWordsAreNumeric) {
  auto t = db_->GetTable("SELECT * FROM v");
  const std::vector<int> expected = {kTypeInteger, kTypeText, kTypeText, kTypeInteger,
                                     kTypeFloat,   kTypeFloat, kTypeFloat, kTypeFloat,
                                     kTypeText,    kTypeText, kTypeBlob,  kTypeText,
                                     kTypeText};
  for (int c = 0; c < t->ColumnCount(); ++c) EXPECT_EQ(t->ColumnType(c), expected[c]) << c;

  // integer in lower case is text: read as stored, not as a number.
  EXPECT_EQ(t->FieldByName("lower_int"), "17");
  EXPECT_EQ(ErrorOf([&] { t->FieldAsInteger(t->FieldIndex("lower_int")); }),
            "Not an integer or numeric field");
  {
    // A float in a lower-case real column is text: no locale separator.
    ScopedDecimalSeparator german(',');
    EXPECT_EQ(t->FieldByName("lower_real"), "2.5");
  }
  // Through a view the column keeps its table's spelling.
  auto view = db_->GetTable("SELECT li, ii FROM w");
  EXPECT_EQ(view->ColumnType(0), kTypeText);
  EXPECT_EQ(view->ColumnType(1), kTypeInteger);
  EXPECT_EQ(ErrorOf([&] { t->FieldAsDouble(t->FieldIndex("t")); }),
            "Not an integer or numeric field");
  EXPECT_EQ(ErrorOf([&] { t->FieldAsBlob(t->FieldIndex("t")); }), "Not a Blob field");
}

TEST_F(ColumnTypes, IntegersKeepTheirLow32BitsAndFloatsTruncateToInteger) {
  auto t = db_->GetTable("SELECT * FROM v");
  EXPECT_EQ(t->FieldByName("i"), "1");  // 2^32 + 1
  EXPECT_EQ(t->FieldAsInteger(t->FieldIndex("i")), 1);
  EXPECT_EQ(t->FieldAsDouble(t->FieldIndex("b")), 1.0);
  EXPECT_EQ(t->FieldAsInteger(t->FieldIndex("f")), -2);
  EXPECT_EQ(t->FieldAsDouble(t->FieldIndex("n")), 3.0);
  EXPECT_EQ(t->FieldByName("d"), "1E20");
}

TEST_F(ColumnTypes, FloatTextUsesTheSeparatorInForceAtTheRead) {
  auto t = db_->GetTable("SELECT r FROM v");
  {
    ScopedDecimalSeparator german(',');
    EXPECT_EQ(t->Fields(0), "12,5");
  }
  ScopedDecimalSeparator english('.');
  EXPECT_EQ(t->Fields(0), "12.5");
}

TEST_F(ColumnTypes, NullCellsReadAsZeroOrEmptyByType) {
  auto t = db_->GetTable("SELECT * FROM v");
  ASSERT_TRUE(t->Next());
  EXPECT_EQ(t->FieldByName("I"), "0");
  EXPECT_EQ(t->Fields(t->FieldIndex("r")), "0");
  EXPECT_EQ(t->FieldAsString(t->FieldIndex("i")), "");
  EXPECT_EQ(t->FieldAsString(t->FieldIndex("r")), "");
  EXPECT_EQ(t->FieldByName("t"), "");
  EXPECT_EQ(t->FieldAsInteger(t->FieldIndex("lower_int")), 0);  // empty before the type check
  EXPECT_EQ(t->FieldAsDouble(t->FieldIndex("t")), 0.0);
  // A blob of zero bytes is an empty cell.
  EXPECT_EQ(t->FieldAsBlob(t->FieldIndex("bl")), std::nullopt);
  EXPECT_EQ(t->FieldByName("bl"), "");
}

TEST_F(ColumnTypes, BlobsKeepZeroBytesAndTextStopsAtTheFirst) {
  ExecOnFile(path_, "INSERT INTO v (t) VALUES (CAST(x'41004200' AS TEXT));");
  auto t = db_->GetTable("SELECT t, bl FROM v");
  EXPECT_EQ(t->FieldAsBlobText(1), std::string("\0A\0B", 4));
  ASSERT_NE(t->FieldAsBlob(1), std::nullopt);
  EXPECT_EQ(t->FieldAsBlob(1)->size(), 4u);
  t->Next();
  t->Next();
  EXPECT_EQ(t->FieldAsString(0), "A");
}

TEST_F(ColumnTypes, Windows1252TextPassesBothWaysUnchanged) {
  db_->ExecSQL(W("INSERT INTO v (t) VALUES ('Müller ß €');"));
  auto t = db_->GetTable(W("SELECT t FROM v WHERE t = 'Müller ß €'"));
  ASSERT_EQ(t->Count(), 1);
  EXPECT_EQ(t->FieldAsString(0), W("Müller ß €"));
}

TEST_F(ColumnTypes, ExpressionColumnsTakeTheFirstRowsStorageClass) {
  auto count = db_->GetTable("SELECT COUNT(*) AS n, MAX(r) AS m FROM v");
  EXPECT_EQ(count->ColumnType(0), kTypeInteger);
  EXPECT_EQ(count->ColumnType(1), kTypeFloat);
  EXPECT_EQ(count->FieldAsInteger(0), 2);

  // A NULL first row makes the expression column unreadable in every row.
  auto mixed = db_->GetTable("SELECT i + 0 AS e FROM v ORDER BY i IS NOT NULL");
  ASSERT_EQ(mixed->Count(), 2);
  EXPECT_EQ(mixed->ColumnType(0), kTypeNull);
  mixed->Next();
  EXPECT_EQ(mixed->Fields(0), "");
}

// ---- walking a table and finding columns ----

TEST(SQLiteTableWalk, EmptyResultIsAtEndAndHasNoNames) {
  TempDir dir;
  TSQLiteDatabase db(NewDb(dir, "CREATE TABLE t (DebitorNr INTEGER);"));
  auto t = db.GetTable("SELECT DebitorNr FROM t");
  EXPECT_EQ(t->Count(), 0);
  EXPECT_TRUE(t->IsEOF());
  EXPECT_FALSE(t->Next());
  EXPECT_EQ(ErrorOf([&] { t->FieldIndex("DebitorNr"); }),
            "Field DebitorNr Not found. Empty dataset");
  EXPECT_EQ(ErrorOf([&] { t->Fields(0); }), "Table is at End of File");
}

TEST(SQLiteTableWalk, EveryReadAfterTheLastRowRaises) {
  TempDir dir;
  TSQLiteDatabase db(NewDb(dir, "CREATE TABLE t (a INTEGER, b TEXT, c BLOB);"
                                "INSERT INTO t VALUES (1, 'x', x'01'), (2, 'y', x'02');"));
  auto t = db.GetTable("SELECT * FROM t");
  EXPECT_TRUE(t->Next());
  EXPECT_EQ(t->Fields(0), "2");
  EXPECT_TRUE(t->Next());  // reaching the end still counts as a step
  EXPECT_TRUE(t->IsEOF());
  EXPECT_FALSE(t->Next());
  EXPECT_EQ(t->Count(), 2);
  for (auto read : std::vector<std::function<void()>>{
           [&] { t->Fields(0); }, [&] { t->FieldByName("b"); }, [&] { t->FieldAsString(1); },
           [&] { t->FieldAsInteger(0); }, [&] { t->FieldAsDouble(0); },
           [&] { t->FieldAsBlob(2); }, [&] { t->FieldAsBlobText(2); }}) {
    EXPECT_EQ(ErrorOf(read), "Table is at End of File");
  }
}

TEST(SQLiteTableWalk, NamesMatchAcrossCaseAndTheLeftmostDuplicateWins) {
  TempDir dir;
  TSQLiteDatabase db(NewDb(dir, "CREATE TABLE t (DebitorNr INTEGER, \xC4nderung TEXT);"
                                "INSERT INTO t VALUES (7, 'neu');"));
  auto t = db.GetTable("SELECT DebitorNr, \xC4nderung, 8 AS debitornr FROM t");
  EXPECT_EQ(t->ColumnNames()[0], "DEBITORNR");
  EXPECT_EQ(t->FieldIndex("debitornr"), 0);
  EXPECT_EQ(t->FieldByName("debitornr"), "7");
  EXPECT_EQ(t->FieldIndex("\xE4nderung"), 1);  // ä finds Ä
  EXPECT_EQ(ErrorOf([&] { t->FieldIndex("kundennr"); }), "Field not found in dataset: kundennr");
}

TEST(SQLiteTableWalk, TableOutlivesLaterStatements) {
  TempDir dir;
  TSQLiteDatabase db(NewDb(dir, "CREATE TABLE t (a TEXT); INSERT INTO t VALUES ('alt');"));
  auto t = db.GetTable("SELECT a FROM t");
  db.ExecSQL("UPDATE t SET a = 'neu';");
  db.ExecSQL("DROP TABLE t;");
  EXPECT_EQ(t->FieldAsString(0), "alt");
}

// ---- another connection holding the file ----

TEST(SQLiteLocking, QueryStepThatFindsTheFileLockedRaisesPrepareError) {
  TempDir dir;
  const std::string path = NewDb(dir, "CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);");
  TSQLiteDatabase db(path);
  db.GetTable("SELECT a FROM t");  // the schema is known, so only the step needs the lock
  sqlite3_busy_timeout(db.Handle(), 0);

  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(ErrorOf([&] { db.GetTable("SELECT a FROM t"); }), "Could not prepare SQL statement");
  sqlite3_exec(holder, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(holder);

  EXPECT_EQ(db.GetTable("SELECT a FROM t")->Count(), 1);
}

}  // namespace
}  // namespace kelvanor
