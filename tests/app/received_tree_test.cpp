#include "app/received_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "app/download_limits.h"
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
  // Everything after a NUL byte would be lost on the way to the database.
  Put("mob_pferd_x.txt", "h\r\nN/1;Fury\r\nN/2;Nul\0Byte;x\r\n"s);
  try {
    Read();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("mob_pferd_x.txt, Zeile 3: die Zeile enth\xE4lt ein Nullzeichen"),
              std::string::npos)
        << e.what();
  }
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

TEST(BackupFileName, PlainNumbersWithoutLeadingZeros) {
  CivilTime march;
  march.year = 2027, march.month = 3, march.day = 1, march.hour = 9, march.minute = 5,
  march.second = 7;
  EXPECT_EQ(BackupFileName(march), "2027_3_1_9.5.7_mob_from_server.txt");
  CivilTime december;
  december.year = 2026, december.month = 12, december.day = 7, december.hour = 0,
  december.minute = 51, december.second = 34;
  EXPECT_EQ(BackupFileName(december), "2026_12_7_0.51.34_mob_from_server.txt");
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
