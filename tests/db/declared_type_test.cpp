// Reading a column's declared type back out of its CREATE TABLE text.
#include <gtest/gtest.h>

#include "db/declared_type.h"

namespace kelvanor {
namespace {

TEST(DeclaredTypeInCreateTable, KeepsTheSpellingAndStopsAtConstraints) {
  const std::string sql =
      "CREATE TABLE \"Kunde (alt)\" (\n"
      "  id integer PRIMARY KEY, -- kommentiert, mit Komma\n"
      "  [Preis \"netto\"] REAL NOT NULL DEFAULT 0,\n"
      "  \"a\"\"b\" Varchar ( 50 ) COLLATE NOCASE, /* INTEGER, */ ohneTyp,\n"
      "  zahl unsigned big int CHECK (zahl > 0),\n"
      "  CONSTRAINT pk UNIQUE (id, zahl),\n"
      "  quoted \"INTEGER\")";
  EXPECT_EQ(DeclaredTypeInCreateTable(sql, "ID"), "integer");
  EXPECT_EQ(DeclaredTypeInCreateTable(sql, "preis \"NETTO\""), "REAL");
  EXPECT_EQ(DeclaredTypeInCreateTable(sql, "a\"b"), "Varchar ( 50 )");
  EXPECT_EQ(DeclaredTypeInCreateTable(sql, "ohnetyp"), "");
  EXPECT_EQ(DeclaredTypeInCreateTable(sql, "zahl"), "unsigned big int");
  EXPECT_EQ(DeclaredTypeInCreateTable(sql, "quoted"), "INTEGER");
  EXPECT_EQ(DeclaredTypeInCreateTable(sql, "pk"), std::nullopt);
  EXPECT_EQ(DeclaredTypeInCreateTable(sql, "Kunde"), std::nullopt);
  EXPECT_EQ(DeclaredTypeInCreateTable("CREATE TABLE x", "x"), std::nullopt);
}

}  // namespace
}  // namespace kelvanor
