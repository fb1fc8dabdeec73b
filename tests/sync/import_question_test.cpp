#include "sync/import_question.h"

#include <gtest/gtest.h>

namespace kelvanor {
namespace {

// Each file keeps its line; the records follow in words, by kind and what
// the import does with them.
TEST(ImportQuestion, CountsRecordsWithoutTheHeaderLineAndSumsThemUpInWords) {
  TreeModel tree;
  tree.Append(0, "Neue Daten, Import am 01.03.2027");
  tree.Append(1, "mob_kunde_x.txt");
  tree.Append(2, "h");
  tree.Append(2, "N/1");
  tree.Append(2, "N/2");
  tree.Append(2, "A/12;Herr");
  tree.Append(1, "mob_stall_x.txt");
  tree.Append(2, "h");
  tree.Append(2, "D/A/3");
  tree.Append(1, "mob_pferd_x.txt");
  tree.Append(2, "h");
  tree.Append(2, "N/7;Fury");
  tree.Append(1, "mob_termin_x.txt");
  tree.Append(2, "h");
  tree.Append(2, "D/A/88");
  int total = -1;
  EXPECT_EQ(BuildImportQuestion(tree, &total),
            "Folgende Mobildaten importieren?\r\r"
            "mob_kunde_x.txt (3 S\xE4tze), mob_stall_x.txt (1 Satz), "
            "mob_pferd_x.txt (1 Satz), mob_termin_x.txt (1 Satz)\r\r"
            "2 neue Kunden, 1 ge\xE4nderter Kunde, 1 neues Pferd, 1 gel\xF6schter Termin, "
            "1 Zeile ohne Wirkung");
  EXPECT_EQ(total, 6);
}

// A file holding only its header, or only blank lines, brings nothing to
// import: with nothing else the question is not put at all.
TEST(ImportQuestion, FilesWithoutRecordsAreLeftOutAndCountNothing) {
  TreeModel tree;
  tree.Append(0, "root");
  tree.Append(1, "mob_kunde_x.txt");
  tree.Append(1, "mob_stall_x.txt");
  tree.Append(2, "h");
  tree.Append(1, "mob_pferd_x.txt");
  tree.Append(2, "h");
  tree.Append(2, " ");
  tree.Append(1, "mob_leistung_x.txt");
  int total = -1;
  EXPECT_EQ(BuildImportQuestion(tree, &total), "Folgende Mobildaten importieren?\r\r");
  EXPECT_EQ(total, 0);
}

TEST(ImportQuestion, NothingReceived) {
  TreeModel tree;
  tree.Append(0, "root");
  int total = -1;
  EXPECT_EQ(BuildImportQuestion(tree, &total), "Folgende Mobildaten importieren?\r\r");
  EXPECT_EQ(total, 0);
  EXPECT_EQ(BuildImportQuestion(TreeModel(), nullptr), "Folgende Mobildaten importieren?\r\r");
}

}  // namespace
}  // namespace kelvanor
