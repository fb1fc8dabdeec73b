#include <filesystem>
#include <utility>

#include "import/import_fixture.h"
#include "util/errors.h"

namespace kelvanor::testing {
namespace {

TEST(IdMap, LookupFindsTheFirstUsableEntryOfTheKindAndMobileId) {
  IdMap map;
  map.AddIdMapEntry("stall", 7, 0);  // an insert that failed gives no id
  map.AddIdMapEntry("besitzer", 7, 11);
  map.AddIdMapEntry("stall", 7, 21);
  map.AddIdMapEntry("stall", 7, 22);
  EXPECT_EQ(map.LookupNewId("stall", 7), 21);
  EXPECT_EQ(map.LookupNewId("besitzer", 7), 11);
  EXPECT_EQ(map.LookupNewId("Stall", 7), 0);
  EXPECT_EQ(map.LookupNewId("stall", 8), 0);
  EXPECT_EQ(map.LookupNewId("pferd", 7), 0);
}

TEST(IdMap, TruncateForgetsTheDroppedEntriesOnly) {
  IdMap map;
  map.AddIdMapEntry("pferd", 1, 10);
  map.AddIdMapEntry("pferd", 2, 20);
  map.AddIdMapEntry("pferd", 1, 30);
  map.TruncateTo(1);
  EXPECT_EQ(map.Size(), 1u);
  EXPECT_EQ(map.LookupNewId("pferd", 1), 10);
  EXPECT_EQ(map.LookupNewId("pferd", 2), 0);
  map.AddIdMapEntry("pferd", 2, 40);
  EXPECT_EQ(map.LookupNewId("pferd", 2), 40);
  map.TruncateTo(5);
  EXPECT_EQ(map.Size(), 2u);
}

TreeModel TreeOf(const std::vector<std::pair<int, std::string>>& nodes) {
  TreeModel tree;
  for (const auto& [level, text] : nodes) tree.Append(level, text);
  return tree;
}

class Framework : public ImportTest {};

TEST_F(Framework, ForEachRecordLineStepsOverTheHeaderAndStopsAtTheNextFile) {
  const TreeModel tree = TreeOf({{0, "root"},
                                 {1, "leer.txt"},
                                 {1, "kopf.txt"},
                                 {2, "kopf"},
                                 {1, "daten.txt"},
                                 {2, "kopf"},
                                 {2, "a"},
                                 {2, "b"},
                                 {1, "rest.txt"}});
  TDBase db(dbPath_);
  ImportContext ctx(db, tree);
  std::vector<std::string> seen;
  auto record = [&](const std::string& line) { seen.push_back(line); };

  std::size_t position = 1;  // a file without lines: on to the next file
  ForEachRecordLine(ctx, position, record);
  EXPECT_EQ(position, 2u);

  position = 2;  // only the header: no record
  ForEachRecordLine(ctx, position, record);
  EXPECT_EQ(position, 4u);
  EXPECT_TRUE(seen.empty());

  position = 4;
  ForEachRecordLine(ctx, position, record);
  EXPECT_EQ(position, 8u);
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));

  position = 8;  // the last node of the tree
  ForEachRecordLine(ctx, position, record);
  EXPECT_EQ(position, 9u);
}

TEST_F(Framework, CurrencySettings) {
  TDBase db(dbPath_);
  CurrencySettings none = ReadCurrencySettings(db);
  EXPECT_EQ(none.mainCurrencyFlag, 0);
  EXPECT_EQ(none.priceColumnSuffix, "euro");

  Exec("INSERT INTO settings (nid, basiswaehrung, hauptwaehrung) VALUES (1, 'EUR', 0)");
  CurrencySettings zero = ReadCurrencySettings(db);
  EXPECT_EQ(zero.mainCurrencyFlag, 0);
  EXPECT_EQ(zero.priceColumnSuffix, "");

  Exec("UPDATE settings SET hauptwaehrung = 1");
  CurrencySettings one = ReadCurrencySettings(db);
  EXPECT_EQ(one.mainCurrencyFlag, 1);
  EXPECT_EQ(one.priceColumnSuffix, "euro");

  Exec("UPDATE settings SET hauptwaehrung = 258");  // only the low eight bits count
  EXPECT_EQ(ReadCurrencySettings(db).mainCurrencyFlag, 2);
}

TEST_F(Framework, ResolveReference) {
  TDBase db(dbPath_);
  TreeModel tree;
  ImportContext ctx(db, tree);
  ctx.idMap.AddIdMapEntry("pferd", 4, 44);
  EXPECT_EQ(ResolveReference(ctx, "A/12", "pferd"), 12);
  EXPECT_EQ(ResolveReference(ctx, "N/4", "pferd"), 44);
  EXPECT_EQ(ResolveReference(ctx, "AE/4", "pferd"), 44);
  EXPECT_EQ(ResolveReference(ctx, "N/5", "pferd"), 0);
  EXPECT_EQ(ResolveReference(ctx, "N/4", "besitzer"), 0);
  EXPECT_EQ(ResolveReference(ctx, "X/4", "pferd"), 0);
  EXPECT_EQ(ResolveReference(ctx, "", "pferd"), 0);
  EXPECT_THROW(ResolveReference(ctx, "A", "pferd"), EConvertError);
  EXPECT_THROW(ResolveReference(ctx, "A/x", "pferd"), EConvertError);
  EXPECT_THROW(ResolveReference(ctx, "N/4/5", "pferd"), EConvertError);
}

TEST_F(Framework, GuardedLineLeavesNoTraceAndTheRunGoesOn) {
  TDBase db(dbPath_);
  TreeModel tree;
  ImportContext ctx(db, tree);
  db.RunInTransaction([&] {
    ImportLineGuarded(ctx, [&] {
      const int32_t id = db.InsertRecord("INSERT INTO stall (name) VALUES ('weg')", "stall", "id");
      ctx.idMap.AddIdMapEntry("stall", 1, id);
      throw EConvertError("Datensatz \"N/x\" enth\xE4lt keine g\xFCltige Nummer");
    });
    ImportLineGuarded(ctx, [&] {
      const int32_t id = db.InsertRecord("INSERT INTO stall (name) VALUES ('da')", "stall", "id");
      ctx.idMap.AddIdMapEntry("stall", 2, id);
    });
  });
  ASSERT_EQ(ctx.summary.failures.size(), 1u);
  EXPECT_EQ(ctx.summary.failures[0].message,
            "Datensatz \"N/x\" enth\xE4lt keine g\xFCltige Nummer");
  EXPECT_EQ(ctx.idMap.LookupNewId("stall", 1), 0);
  EXPECT_EQ(ctx.idMap.LookupNewId("stall", 2), 1);
  EXPECT_EQ(One("SELECT group_concat(id||name) FROM stall"), "1da");
}

TEST_F(Framework, FilesAreImportedInTheFixedOrderWhateverTheTreeOrder) {
  // A hand-made tree in an order no download gives: the appointment file
  // first, an empty file node, a header-only file, an unknown file.
  const TreeModel tree = TreeOf({{0, "Neue Daten"},
                                 {1, "mob_termin_x.txt"},
                                 {2, "h"},
                                 {2, "N/1;1;1;pfd/N/3;x;;;;;;"},
                                 {1, "mob_kunde_pferd_x.txt"},
                                 {2, "h"},
                                 {2, "N/3;x|N/3"},
                                 {1, "mob_kunde_x.txt"},
                                 {1, "mob_unbekannt_x.txt"},
                                 {2, "h"},
                                 {2, "N/3;;Fremd;;;;;;;;0;"},
                                 {1, "mob_kunde_x.txt"},
                                 {2, "h"},
                                 {2, "N/3;;Meier;;;;;;;;0;"},
                                 {1, "mob_pferd_x.txt"},
                                 {2, "h"},
                                 {1, "mob_pferd_x.txt"},
                                 {2, "h"},
                                 {2, "N/3;Blitz;;;;1;;;;;"},
                                 {2, "ein verwaister Satz"}});
  TDBase db(dbPath_);
  const ImportSummary summary = ImportMobileChanges(db, tree);
  ASSERT_EQ(summary.failures.size(), 1u);
  EXPECT_EQ(summary.failures[0].text, "ein verwaister Satz");
  EXPECT_EQ(One("SELECT group_concat(id||name) FROM besitzer"), "1Meier");
  EXPECT_EQ(One("SELECT group_concat(id||name) FROM pferd"), "1Blitz");
  // Within one pass the tree order rules: this appointment file stands before
  // the horse file, so its horse reference cannot resolve yet.
  EXPECT_EQ(One("SELECT thema FROM termine"), "pfd/A/0");
  EXPECT_EQ(One("SELECT besitzerindex||'/'||pferdindex FROM verbind"), "1/1");
}

TEST_F(Framework, HeaderOnlyFilesImportNothingAndTheWalkGoesOn) {
  WriteChangeFile("mob_kunde_x.txt", {"N/1;;KeinSatz;;;;;;;;0;"});
  WriteChangeFile("mob_stall_x.txt", {});
  WriteChangeFile("mob_pferd_x.txt", {"h", "N/1;Blitz;;;;1;;;;;"});
  RunImport();
  EXPECT_EQ(Count("SELECT * FROM besitzer"), 0);
  EXPECT_EQ(One("SELECT name FROM pferd"), "Blitz");
}

TEST_F(Framework, JournalKeepsCommittedLinesFromBeingImportedTwice) {
  const std::string journal = dir_.File("journal.db");
  // A line that failed is not journaled: it is tried again.
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/5;;Neu;;;;;;;;x;"});
  RunImport(journal);
  EXPECT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Count("SELECT * FROM besitzer"), 0);

  WriteChangeFile("mob_kunde_x.txt", {"h", "N/5;;Neu;;;;;;;;1;"});
  WriteChangeFile("mob_kunde_pferd_x.txt", {"h", "N/5;x|A/1|", "N/5;x|A/1|"});
  WriteChangeFile("mob_pferd_x.txt", {"h", "N/7;Halb;;;;;A/x;;;;"});
  RunImport(journal);
  EXPECT_EQ(Errors().size(), 1u);
  const std::string customer = One("SELECT id FROM besitzer");

  // The delete request failed: the server sends the same lines again, now
  // with a third identical link and an appointment for the customer the
  // first run created.
  WriteChangeFile("mob_kunde_pferd_x.txt", {"h", "N/5;x|A/1|", "N/5;x|A/1|", "N/5;x|A/1|"});
  WriteChangeFile("mob_termin_x.txt", {"h", "N/1;46400;46400;kd/N/5;Hof"});
  RunImport(journal);
  EXPECT_EQ(Summary().alreadyImported, 3u);
  EXPECT_EQ(Errors().size(), 1u);  // the failed line was not imported, so it is tried again
  EXPECT_EQ(Count("SELECT * FROM besitzer"), 1);
  EXPECT_EQ(Count("SELECT * FROM verbind"), 3);
  EXPECT_EQ(One("SELECT thema FROM termine"), "kd/A/" + customer);

  // Once a download no longer holds the lines, the same text is new again.
  {
    TDBase db(dbPath_);
    ImportJournal(journal, db).ForgetLinesNotIn(TreeModel());
  }
  RunImport(journal);
  EXPECT_EQ(Summary().alreadyImported, 0u);
  EXPECT_EQ(Count("SELECT * FROM besitzer"), 2);
}

// A journal entry counts only while the records of its run are in the
// database: a copy restored from before the run imports the lines again,
// although the office has since given the run's ids to records of its own.
// A run that only changed records leaves no entry; its change comes again
// and writes the same (a restored copy gets it back).
TEST_F(Framework, TheJournalCountsARunOnlyWhileItsRecordsAreInTheDatabase) {
  const std::string journal = dir_.File("journal.db");
  Exec("INSERT INTO besitzer (id,name,preisstufe) VALUES (1,'Alt',1);"
       "INSERT INTO pferd (id,name) VALUES (1,'Fury');"
       "UPDATE _tblOffsets SET idMax=1 WHERE tbl IN ('Besitzer','Pferd');");
  const std::string copy = dir_.File("kopie.db");
  std::filesystem::copy_file(dbPath_, copy);
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/5;;Neu;;;;;;;;1;", "A/1;;Alt;;;0711;;;;;1;"});
  WriteChangeFile("mob_kunde_pferd_x.txt", {"h", "A/1;x|A/1|"});
  RunImport(journal);
  RunImport(journal);
  EXPECT_EQ(Summary().alreadyImported, 3u);
  EXPECT_EQ(Count("SELECT * FROM besitzer WHERE name='Neu'"), 1);
  EXPECT_EQ(Count("SELECT * FROM verbind"), 1);

  // Restored, and the office creates a customer and a link under the ids
  // the run had used.
  std::filesystem::remove(dbPath_);
  std::filesystem::copy_file(copy, dbPath_);
  Exec("INSERT INTO besitzer (id,name,erstelltam,erstelltvon) VALUES (2,'Buero',46000,'ADMIN');"
       "INSERT INTO verbind (id,pferdindex,besitzerindex) VALUES (1,1,2);"
       "UPDATE _tblOffsets SET idMax=2 WHERE tbl='Besitzer';"
       "UPDATE _tblOffsets SET idMax=1 WHERE tbl='Verbind';");
  RunImport(journal);
  EXPECT_EQ(Summary().alreadyImported, 0u);
  EXPECT_EQ(Count("SELECT * FROM besitzer WHERE name='Neu'"), 1);
  EXPECT_EQ(One("SELECT telefon FROM besitzer WHERE id=1"), "0711");
  EXPECT_EQ(Count("SELECT * FROM verbind WHERE pferdindex=1 AND besitzerindex=1"), 1);
  RunImport(journal);
  EXPECT_EQ(Summary().alreadyImported, 3u);

  // Only a change: nothing to recognise it by, so it is not journaled.
  WriteChangeFile("mob_kunde_x.txt", {"h", "A/1;;Alt;;;0911;;;;;1;"});
  std::filesystem::remove(downloadFolder_ + "mob_kunde_pferd_x.txt");
  RunImport(journal);
  Exec("UPDATE besitzer SET telefon='0711' WHERE id=1");  // as a restored copy has it
  RunImport(journal);
  EXPECT_EQ(Summary().alreadyImported, 0u);
  EXPECT_EQ(One("SELECT telefon FROM besitzer WHERE id=1"), "0911");
  EXPECT_EQ(One("PRAGMA integrity_check"), "ok");
}

TEST_F(Framework, AFailureOfTheDatabaseEndsTheRunEvenInAGuardedLine) {
  WriteChangeFile("mob_stall_x.txt", {"h", "N/1;Hof;;;;;;", "N/2;" + std::string(100000, 'x') + ";;;;;;"});
  TreeModel tree;
  ReadReceivedFilesFrom(downloadFolder_, TestChangeFiles(), nullptr, tree);
  const std::string before = Dump();
  {
    TDBase db(dbPath_);
    db.Query("PRAGMA max_page_count = " + One("PRAGMA page_count"));
    EXPECT_THROW(ImportMobileChanges(db, tree, dir_.File("journal.db")), EDatabaseFailure);
  }
  EXPECT_EQ(Dump(), before);
}

}  // namespace
}  // namespace kelvanor::testing
