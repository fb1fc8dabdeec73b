#include "sync/received_tree.h"
#include "kept/office_lists.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "server/download_limits.h"
#include "platform/environment.h"
#include "support/linux_only.h"
#include "support/test_db.h"
#include "util/daynumber.h"
#include "util/errors.h"

namespace kelvanor::testing {
namespace {

FileTable ChangeFileTable() {
  FileTable files{};
  const char* names[] = {"mob_kunde_x.txt", "mob_stall_x.txt", "mob_pferd_x.txt",
                         "mob_kunde_pferd_x.txt", "mob_rech_x.txt", "mob_termin_x.txt",
                         "mob_kasse_x.txt", "mob_report_x.txt", "mob_artikel_x.txt",
                         "mob_leistung_x.txt"};
  for (std::size_t i = 0; i < 10; ++i) files[i] = names[i];
  return files;
}

// The detail log's lines, without its "-----" separators.
class DetailLines : public SyncView {
 public:
  void Log(const std::string& line) override {
    if (line != "-----") lines.push_back(line);
  }
  std::vector<std::string> lines;
};

std::vector<std::string> Texts(const TreeModel& tree) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < tree.Count(); ++i) {
    texts.push_back(std::to_string(tree.Level(i)) + ":" + tree.Text(i));
  }
  return texts;
}

class ReceivedTree : public ::testing::Test {
 protected:
  ReceivedTree() {
    settings_.local_dir = dir_.Path() + "/";
    settings_.ChangeFiles = ChangeFileTable();
  }
  void Put(const std::string& file, const std::string& bytes) {
    WriteFile(dir_.Path() + "/tmp_dl/" + file, bytes);
  }
  TreeModel Read() {
    TreeModel tree;
    tree.Append(1, "vom letzten Mal");
    ReadReceivedFiles(settings_, &logger_, tree);
    log_ = view_.lines;
    return tree;
  }
  // The root and the nodes after it.
  static std::vector<std::string> Body(const TreeModel& tree) {
    std::vector<std::string> texts = Texts(tree);
    texts.erase(texts.begin());
    return texts;
  }

  TempDir dir_;
  Settings settings_;
  DetailLines view_;
  const bool debugLog_ = true;
  Logger logger_{view_, debugLog_};
  std::vector<std::string> log_;
};

TEST(FirstField, TextBeforeTheFirstSemicolon) {
  EXPECT_EQ(FirstField("A/12;x;y"), "A/12");
  EXPECT_EQ(FirstField("A/12"), "A/12");
  EXPECT_EQ(FirstField(";x"), "");
  EXPECT_EQ(FirstField(""), "");
}

TEST_F(ReceivedTree, RootAndFilesInTheOrderOfTheChangeFileTable) {
  Put("mob_leistung_x.txt", "h\r\n");
  Put("mob_kunde_x.txt", "h\r\nN/1;a\r\n");
  Put("mob_termin_x.txt", "");
  Put("mob_rech_x.txt", "h");
  Put("fremd.txt", "h\r\n");
  const TreeModel tree = Read();
  EXPECT_EQ(tree.Level(0), 0);
  EXPECT_EQ(tree.Text(0), "Neue Daten, Import am " + ShortDateText(NowCivil()));
  EXPECT_EQ(Body(tree), (std::vector<std::string>{"1:mob_kunde_x.txt", "2:h", "2:N/1;a",
                                                  "1:mob_rech_x.txt", "2:h", "1:mob_termin_x.txt",
                                                  "1:mob_leistung_x.txt", "2:h"}));
  const std::string folder = dir_.Path() + "/tmp_dl" + kPathSep;
  ASSERT_EQ(log_.size(), 8u);
  EXPECT_EQ(log_[0], "Datei gefunden - " + folder + "mob_kunde_x.txt");
  EXPECT_EQ(log_[1], "Datei gelesen - " + folder + "mob_kunde_x.txt");
  EXPECT_EQ(log_[7], "Datei gelesen - " + folder + "mob_leistung_x.txt");
}

TEST_F(ReceivedTree, NoChangeFilesLeaveOnlyTheRoot) {
  const TreeModel tree = Read();  // tmp_dl does not even exist
  EXPECT_EQ(tree.Count(), 1u);
  EXPECT_TRUE(log_.empty());
}

TEST_F(ReceivedTree, LineEndsAndEmptyLines) {
  Put("mob_stall_x.txt", "h\rN/1;a\nN/2;b\r\n\r\n\n;leer1\r;leer2\nN/3;ohne Ende");
  EXPECT_EQ(Body(Read()), (std::vector<std::string>{"1:mob_stall_x.txt", "2:h", "2:N/1;a",
                                                    "2:N/2;b", "2:", "2:", "2:;leer1",
                                                    "2:;leer2", "2:N/3;ohne Ende"}));
}

TEST_F(ReceivedTree, LaterLineReplacesTheEarlierOneOfTheSameFirstField) {
  Put("mob_kunde_x.txt", "h\r\nA/12;alt\r\nN/5;x\r\nN/50;y\r\nA/12;neu\r\nA/12\r\n");
  Put("mob_pferd_x.txt", "h\r\nA/12;nur hier\r\n");
  EXPECT_EQ(Body(Read()), (std::vector<std::string>{"1:mob_kunde_x.txt", "2:h", "2:A/12",
                                                    "2:N/5;x", "2:N/50;y", "1:mob_pferd_x.txt",
                                                    "2:h", "2:A/12;nur hier"}));
}

TEST_F(ReceivedTree, OwnerLinkLinesAreNeverMerged) {
  Put("mob_kunde_pferd_x.txt", "h\r\nA/12;x|A/1\r\nA/12;x|A/2\r\n");
  EXPECT_EQ(Body(Read()), (std::vector<std::string>{"1:mob_kunde_pferd_x.txt", "2:h",
                                                    "2:A/12;x|A/1", "2:A/12;x|A/2"}));
}

TEST_F(ReceivedTree, BytesStayAsTheyStandButANulByteIsRefused) {
  using namespace std::string_literals;
  Put("mob_kunde_x.txt", "h\r\nN/1;M\xFCller\x01x;\x80\x81\r\nN/2;zwei\r\n"s);
  EXPECT_EQ(Body(Read()), (std::vector<std::string>{"1:mob_kunde_x.txt", "2:h",
                                                    "2:N/1;M\xFCller\x01x;\x80\x81"s,
                                                    "2:N/2;zwei"s}));
  // Everything after a NUL byte would be lost on the way to the database:
  // the line stays whole in the tree and is refused, named by its number.
  Put("mob_pferd_x.txt", "h\r\nN/1;Fury\r\nN/2;Nul\0Byte;x\r\n"s);
  const TreeModel tree = Read();
  const std::size_t last = tree.Count() - 1;
  EXPECT_EQ(tree.Text(last), "N/2;Nul\0Byte;x"s);
  EXPECT_EQ(tree.LineNumber(last), 3u);
  EXPECT_EQ(tree.Refused(last), "Die Zeile enth\xE4lt ein Nullzeichen.");
  EXPECT_TRUE(tree.Refused(last - 1).empty());
}

// UTF-16 bytes with their byte-order mark, as an editor saves "Unicode".
std::string Utf16File(const std::u16string& text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

// A file saved with a byte-order mark is read in its encoding; a letter the
// tool's texts lack is kept visibly in its line, and the line is refused.
TEST_F(ReceivedTree, FilesWithAByteOrderMarkAreReadInTheirEncoding) {
  Put("mob_kunde_x.txt", "\xEF\xBB\xBFh\r\nN/1;M\xC3\xBCller\r\nN/2;\xC5\x81ukasz\r\n");
  Put("mob_stall_x.txt", Utf16File(u"h\r\nN/1;Gro\u00DF \u20AC\r\nN/2;\u0141\r\nN/1;Wei\u00DF", false));
  Put("mob_pferd_x.txt", Utf16File(u"h\nN/1;\U0001F40E\nN/2;ok", true) + "x");
  // UTF-8 without the mark, as Notepad saves it; a Windows-1252 file stays one.
  Put("mob_termin_x.txt", "h\r\nN/1;Fl\xC3\xB6" "ckchen\r\nN/2;\xC5\x81ukasz\r\n");
  Put("mob_artikel_x.txt", "h\r\nN/1;Fl\xF6" "ckchen \xC3\r\n");
  const TreeModel tree = Read();
  EXPECT_EQ(Body(tree), (std::vector<std::string>{
                            "1:mob_kunde_x.txt", "2:h", "2:N/1;M\xFCller", "2:N/2;<U+0141>ukasz",
                            "1:mob_stall_x.txt", "2:h", "2:N/1;Wei\xDF", "2:N/2;<U+0141>",
                            "1:mob_pferd_x.txt", "2:h", "2:N/1;<U+1F40E>", "2:N/2;ok<U+FFFD>",
                            "1:mob_termin_x.txt", "2:h", "2:N/1;Fl\xF6" "ckchen",
                            "2:N/2;<U+0141>ukasz", "1:mob_artikel_x.txt", "2:h",
                            "2:N/1;Fl\xF6" "ckchen \xC3"}));
  std::vector<std::string> numbered;
  for (std::size_t i = 0; i < tree.Count(); ++i) {
    if (tree.Level(i) != 2) continue;
    numbered.push_back(std::to_string(tree.LineNumber(i)) +
                       (tree.Refused(i).empty() ? "" : ":" + tree.Refused(i)));
  }
  EXPECT_EQ(numbered,
            (std::vector<std::string>{
                "1", "2",
                "3:Das Zeichen U+0141 gibt es in Windows-1252 nicht (in der Zeile als <U+0141> "
                "geschrieben).",
                "1", "4", "3:Das Zeichen U+0141 gibt es in Windows-1252 nicht (in der Zeile als "
                "<U+0141> geschrieben).",
                "1", "2:Das Zeichen U+1F40E gibt es in Windows-1252 nicht (in der Zeile als "
                "<U+1F40E> geschrieben).",
                "3:Das Zeichen U+FFFD gibt es in Windows-1252 nicht (in der Zeile als <U+FFFD> "
                "geschrieben).",
                "1", "2", "3:Das Zeichen U+0141 gibt es in Windows-1252 nicht (in der Zeile als "
                "<U+0141> geschrieben).",
                "1", "2"}));
}

TEST_F(ReceivedTree, ManyLinesMergeByFirstField) {
  std::string content = "h\r\n";
  for (int i = 0; i < 100000; ++i) {
    content += "A/" + std::to_string(i % 1000) + ";" + std::to_string(i) + "\r\n";
  }
  Put("mob_kunde_x.txt", content);
  const TreeModel tree = Read();
  ASSERT_EQ(tree.Count(), 1u + 1u + 1u + 1000u);
  EXPECT_EQ(tree.Text(3), "A/0;99000");
  EXPECT_EQ(tree.Text(1002), "A/999;99999");
}

// Tens of megabytes of empty lines would become tens of millions of nodes;
// they are refused once the lines pass the limit, with little memory.
TEST_F(ReceivedTree, LinesBeyondTheLimitAreRefusedWithLittleMemory) {
  KELVANOR_LINUX_ONLY("measures a forked child's peak memory");
#ifndef _WIN32
  Put("mob_kunde_x.txt", "h\r\n" + std::string(15u * 1000 * 1000, '\n'));
  const pid_t child = ::fork();
  if (child == 0) {
    TreeModel tree;
    try {
      ReadReceivedFiles(settings_, nullptr, tree);
    } catch (const Exception& e) {
      const bool named = std::string(e.what()).find("mehr als " + std::to_string(kMaxReceivedLines) +
                                                    " Zeilen") != std::string::npos;
      ::_exit(named ? 0 : 2);
    }
    ::_exit(1);
  }
  int status = 0;
  struct rusage usage {};
  ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: read without refusal, 2: another message";
  EXPECT_LT(usage.ru_maxrss, 150 * 1024) << "peak memory in KB";
#endif
}

TEST_F(ReceivedTree, UnreadableFileRaises) {
  Put("mob_kunde_x.txt", "h\r\n");
  ::chmod((dir_.Path() + "/tmp_dl/mob_kunde_x.txt").c_str(), 0);
  if (RunningAsRoot()) GTEST_SKIP() << "root reads every file";
  KELVANOR_LINUX_ONLY("Windows has no unreadable-file permission bits");
  TreeModel tree;
  EXPECT_THROW(ReadReceivedFiles(settings_, nullptr, tree), EInOutError);
}

TEST(BackupFileName, ZeroPaddedSoTheNamesSortByDate) {
  CivilTime march;
  march.year = 2027, march.month = 3, march.day = 1, march.hour = 9, march.minute = 5,
  march.second = 7;
  EXPECT_EQ(BackupFileName(march), "2027_03_01_09.05.07_mob_from_server.txt");
  CivilTime december;
  december.year = 2026, december.month = 12, december.day = 7, december.hour = 0,
  december.minute = 51, december.second = 34;
  EXPECT_EQ(BackupFileName(december), "2026_12_07_00.51.34_mob_from_server.txt");
}

class Backup : public ::testing::Test {
 protected:
  Backup() { folders_.MobileFolder = dir_.Path() + "/mobil"; }
  std::string Save(const TreeModel& tree) {
    const std::string path = SaveReceivedTree(folders_, &logger_, tree);
    log_ = view_.lines;
    return path;
  }
  TempDir dir_;
  Folders folders_;
  DetailLines view_;
  const bool debugLog_ = true;
  Logger logger_{view_, debugLog_};
  std::vector<std::string> log_;
};

TEST_F(Backup, WritesEveryNodeInFlatOrderWithCrLf) {
  WriteFile(folders_.MobileFolder + "/x", "");
  TreeModel tree;
  tree.Append(0, "Neue Daten, Import am 01.03.2027");
  tree.Append(1, "mob_kunde_x.txt");
  tree.Append(2, "h");
  tree.Append(2, "");
  tree.Append(2, "N/1;M\xFCller");
  tree.Append(1, "mob_termin_x.txt");
  const CivilTime before = NowCivil();
  const std::string path = Save(tree);
  const CivilTime after = NowCivil();
  EXPECT_EQ(ReadFile(path),
            "Neue Daten, Import am 01.03.2027\r\nmob_kunde_x.txt\r\nh\r\n\r\nN/1;M\xFCller\r\n"
            "mob_termin_x.txt\r\n");
  const std::string name = path.substr(folders_.MobileFolder.size() + 1);
  EXPECT_TRUE(name == BackupFileName(before) || name == BackupFileName(after)) << name;
  EXPECT_EQ(log_, (std::vector<std::string>{"Daten / Treeview sichern ...",
                                            "Daten / Treeview gesichert - " + path}));
}

TEST_F(Backup, OnlyTheRootWritesNothing) {
  TreeModel tree;
  tree.Append(0, "Neue Daten, Import am 01.03.2027");
  EXPECT_EQ(Save(tree), "");
  EXPECT_TRUE(log_.empty());
}

// The lines not imported are added run by run, never overwritten, in a file
// any editor on Windows reads.
TEST_F(Backup, LinesNotImportedAreAppendedRunByRunForTheOffice) {
  ImportSummary first;
  first.failures.push_back({"mob_kunde_x.txt", "N/2", "Preisstufe \"x\" ist keine ganze Zahl", 3,
                            "N/2;;M\xFCller;;;;;;;;x;", "M\xFCller"});
  first.notTaken.push_back({"mob_stall_x.txt", "D/A/4", "Gel\xF6schte St\xE4lle ...", 2,
                            "D/A/4", ""});
  const std::string path = KeepNotImportedLines(folders_, first);  // the folder is made
  EXPECT_EQ(path, folders_.MobileFolder + kPathSep + "nicht_importierte_Zeilen.txt");
  const std::string once = ReadFile(path);
  EXPECT_EQ(once.find("===== Nicht importiert beim Import vom "), 0u) << once;
  const std::string entries =
      " =====\r\n\r\nmob_kunde_x.txt, Zeile 3 (M\xFCller)\r\nGrund: Preisstufe \"x\" ist keine "
      "ganze Zahl\r\nN/2;;M\xFCller;;;;;;;;x;\r\n\r\nmob_stall_x.txt, Zeile 2\r\nGrund: "
      "Gel\xF6schte St\xE4lle ...\r\nD/A/4\r\n";
  ASSERT_GT(once.size(), entries.size());
  EXPECT_EQ(once.substr(once.size() - entries.size()), entries);

  EXPECT_EQ(KeepNotImportedLines(folders_, ImportSummary()), "");  // nothing to keep
  ImportSummary second;
  second.failures.push_back({"mob_pferd_x.txt", "A/1", "weg", 2, "A/1;Fury", "Fury"});
  KeepNotImportedLines(folders_, second);
  const std::string twice = ReadFile(path);
  EXPECT_EQ(twice.substr(0, once.size()), once);
  EXPECT_NE(twice.find("\r\n\r\n===== Nicht importiert", once.size() - 2), std::string::npos);
  const std::string added = "\r\nmob_pferd_x.txt, Zeile 2 (Fury)\r\nGrund: weg\r\nA/1;Fury\r\n";
  EXPECT_EQ(twice.substr(twice.size() - added.size()), added);
}

// A link in a list's place is neither read through nor replaced: what the
// office keeps where it leads stays as it is, and the run is told why.
TEST_F(Backup, AListWhosePlaceHoldsALinkIsRefusedByName) {
  KELVANOR_LINUX_ONLY("the test makes a symbolic link");
  const std::string target = dir_.File("anderswo.txt");
  WriteFile(target, "eigene Notizen\r\n");
  std::filesystem::create_directories(folders_.MobileFolder);
  ImportSummary summary;
  summary.failures.push_back({"mob_kunde_x.txt", "N/2", "weg", 2, "N/2;x", ""});
  const std::vector<FieldConflict> conflicts = {{"Kunde Huber, Anna (A/1)", "Telefon", "0711", "0301"}};
  for (const bool conflictList : {false, true}) {
    const std::string link = folders_.MobileFolder + kPathSep +
                             (conflictList ? kConflictFileName : kNotImportedFile);
    std::filesystem::create_symlink(target, link);
    try {
      conflictList ? KeepConflicts(folders_, conflicts) : KeepNotImportedLines(folders_, summary);
      ADD_FAILURE() << "no error for " << link;
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()).find("Die Liste " + link + " ist eine Verkn\xFCpfung."), 0u)
          << e.what();
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "eigene Notizen\r\n");
  }
}

TEST_F(Backup, MissingFolderRaisesAGermanError) {
  TreeModel tree;
  tree.Append(0, "root");
  tree.Append(1, "mob_kunde_x.txt");
  try {
    Save(tree);
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_NE(std::string(error.what()).find("nicht m\xF6glich"), std::string::npos);
  }
}

}  // namespace
}  // namespace kelvanor::testing
