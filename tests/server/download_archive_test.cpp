// The check of the download archive (server/download_archive.h) on archives
// built here byte by byte: what a hostile server, or anyone between it and
// the office on plain HTTP, may put into one. No server and no unzip: each
// archive is written into a folder of the test and checked as the download
// checks it.
#include "server/download_archive.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "server/download_limits.h"
#include "support/test_db.h"
#include "util/errors.h"
#include "util/outcome.h"

namespace kelvanor {
namespace {

using testing::TempDir;
using testing::W;
namespace fs = std::filesystem;

constexpr uint32_t kPlainFile = 0100644u << 16;

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void Set16(std::string& bytes, std::size_t at, uint32_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Set32(std::string& bytes, std::size_t at, uint32_t value) {
  Set16(bytes, at, value & 0xFFFF);
  Set16(bytes, at + 2, value >> 16);
}

// An extra field as a header stores it.
std::string Field(uint16_t id, const std::string& data) {
  std::string field;
  Put16(field, id);
  Put16(field, static_cast<uint32_t>(data.size()));
  return field + data;
}

// The time stamp extra field zip writes: plain, no second name.
const std::string kTimestamp = Field(0x5455, std::string("\x01\0\0\0\0", 5));

std::string Deflated(const std::string& data) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
            Z_OK);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// One entry as the archive's directory and its own header give it. Unset
// parts take what zip writes for a plain file.
struct Entry {
  std::string name;  // the bytes stored
  std::string data;  // what it unpacks to
  uint16_t method = 8;
  uint16_t flags = 0;
  uint32_t external = kPlainFile;
  uint16_t madeBy = (3 << 8) | 30;  // Unix
  std::optional<uint32_t> statedSize;     // in both headers, whatever the data
  std::optional<std::string> packed;      // the data as stored, whatever the method
  std::optional<std::string> localName;   // the entry's own header differs
  std::optional<uint16_t> localMethod;
  std::optional<uint16_t> localFlags;
  std::string localExtra;
  std::string centralExtra;
};

// An archive and where its parts lie, for tests that damage it.
struct Built {
  std::string bytes;
  std::vector<std::size_t> locals;   // each entry's own header
  std::vector<std::size_t> entries;  // each entry in the directory
  std::size_t directory = 0;
  std::size_t end = 0;  // the end record
};

Built Build(const std::vector<Entry>& entries, const std::string& comment = "") {
  Built built;
  std::string directory;
  for (const Entry& e : entries) {
    const std::string packed = e.packed ? *e.packed : e.method == 8 ? Deflated(e.data) : e.data;
    const uint32_t size = e.statedSize ? *e.statedSize : static_cast<uint32_t>(e.data.size());
    const auto crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    const std::string localName = e.localName ? *e.localName : e.name;
    built.locals.push_back(built.bytes.size());
    std::string& local = built.bytes;
    Put32(local, 0x04034b50);
    Put16(local, 20);
    Put16(local, e.localFlags ? *e.localFlags : e.flags);
    Put16(local, e.localMethod ? *e.localMethod : e.method);
    Put32(local, 0);  // time and date
    Put32(local, crc);
    Put32(local, static_cast<uint32_t>(packed.size()));
    Put32(local, size);
    Put16(local, static_cast<uint32_t>(localName.size()));
    Put16(local, static_cast<uint32_t>(e.localExtra.size()));
    local += localName + e.localExtra + packed;

    built.entries.push_back(directory.size());  // moved by the directory's start below
    Put32(directory, 0x02014b50);
    Put16(directory, e.madeBy);
    Put16(directory, 20);
    Put16(directory, e.flags);
    Put16(directory, e.method);
    Put32(directory, 0);
    Put32(directory, crc);
    Put32(directory, static_cast<uint32_t>(packed.size()));
    Put32(directory, size);
    Put16(directory, static_cast<uint32_t>(e.name.size()));
    Put16(directory, static_cast<uint32_t>(e.centralExtra.size()));
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, e.external);
    Put32(directory, static_cast<uint32_t>(built.locals.back()));
    directory += e.name + e.centralExtra;
  }
  built.directory = built.bytes.size();
  for (std::size_t& at : built.entries) at += built.directory;
  built.bytes += directory;
  built.end = built.bytes.size();
  Put32(built.bytes, 0x06054b50);
  Put32(built.bytes, 0);  // this disk, the directory's disk
  Put16(built.bytes, static_cast<uint32_t>(entries.size()));
  Put16(built.bytes, static_cast<uint32_t>(entries.size()));
  Put32(built.bytes, static_cast<uint32_t>(directory.size()));
  Put32(built.bytes, static_cast<uint32_t>(built.directory));
  Put16(built.bytes, static_cast<uint32_t>(comment.size()));
  built.bytes += comment;
  return built;
}

Entry File(const std::string& name, const std::string& data = "Kunde\r\nA/3;x\r\n") {
  Entry entry;
  entry.name = name;
  entry.data = data;
  return entry;
}

class DownloadArchive : public ::testing::Test {
 protected:
  // Checks `bytes` as the download checks dl_hof.zip: the archive and its
  // dated copy lie in the download folder already.
  Outcome Check(const std::string& bytes) {
    const std::string path = dir.File(kArchive);
    testing::WriteFile(path, bytes);
    return CheckDownloadArchive(path, kArchive, {kArchive, "dl_hof_09.12.2026.zip"});
  }

  // A refusal naming `why` (Windows-1252), or a failure test.
  void ExpectRefused(const std::string& bytes, const std::string& why) {
    const Outcome result = Check(bytes);
    EXPECT_FALSE(result.IsOk()) << why;
    EXPECT_EQ(result.Step(), W("Archivprüfung"));
    EXPECT_EQ(result.Message().rfind("Das Archiv dl_hof.zip vom Server ", 0), 0u)
        << result.Message();
    EXPECT_NE(result.Message().find(why), std::string::npos) << result.Message();
    EXPECT_NE(result.Message().find("Es wird nicht ausgepackt"), std::string::npos)
        << result.Message();
  }

  void ExpectUnreadable(const std::string& bytes, const std::string& what) {
    SCOPED_TRACE(what);
    ExpectRefused(bytes, "ist kein lesbares Zip-Archiv.");
  }

  static constexpr const char* kArchive = "dl_hof.zip";
  TempDir dir;
};

// What zip and PHP's ZipArchive write passes: deflated and stored entries,
// the time stamp field, an archive comment, names in UTF-8 and in the DOS
// code page, and an archive without entries.
TEST_F(DownloadArchive, AnArchiveOfPlainFilesPasses) {
  Entry stored = File("mob_stall_x.txt", "Stall\r\n");
  stored.method = 0;
  Entry stamped = File("mob_pferd_x.txt");
  stamped.localExtra = kTimestamp;
  stamped.centralExtra = kTimestamp;
  Entry utf8 = File("mob_kunde_x M\xC3\xBCller.txt");
  utf8.flags = 0x0800;
  Entry dos = File("mob_termin_x M\x81ller.txt");  // ü in code page 850
  dos.madeBy = 0 << 8 | 20;
  dos.external = 0x20;  // the DOS archive attribute
  Entry empty = File("mob_kasse_x.txt", "");
  EXPECT_TRUE(Check(Build({File("mob_kunde_x.txt"), stored, stamped, utf8, dos, empty}).bytes)
                  .IsOk());
  EXPECT_TRUE(Check(Build({File("mob_kunde_x.txt")}, "ein Kommentar").bytes).IsOk());
  EXPECT_TRUE(Check(Build({}).bytes).IsOk());
}

// unzip makes a link, a folder or a device of what the entry says it is; the
// check refuses each by name, told by the Unix file type, the DOS
// attributes, or a name ending in a separator.
TEST_F(DownloadArchive, AnEntryThatIsNoPlainFileIsRefusedByName) {
  struct Case {
    uint32_t external;
    std::string name;
    std::string why;
  };
  const Case cases[] = {
      {0120777u << 16, "mob_kunde_x.txt", W("\"mob_kunde_x.txt\" als Verknüpfung")},
      {(040755u << 16) | 0x10, "ablage", "\"ablage\" als Ordner"},
      {0x10, "ablage", "\"ablage\" als Ordner"},  // a DOS folder
      {kPlainFile, "ablage/", "\"ablage/\" als Ordner"},
      {0x20, "ablage\\", "\"ablage\\\" als Ordner"},
      {0020644u << 16, "tty", W("\"tty\" als etwas anderes als eine Datei")},  // a device
      {0010644u << 16, "fifo", W("\"fifo\" als etwas anderes als eine Datei")},
      {0x400 | 0x20, "mob_kunde_x.txt", W("\"mob_kunde_x.txt\" als Verknüpfung")},  // reparse point
      {0x08, "VOLUME", W("\"VOLUME\" als etwas anderes als eine Datei")},  // a volume label
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Entry entry = File(c.name);
    entry.external = c.external;
    ExpectRefused(Build({File("mob_stall_x.txt"), entry}).bytes, W("enthält ") + c.why);
  }
}

// A name is a file name and nothing more, one Windows can hold as it stands:
// unzip would write anything else outside the folder, into a folder of it,
// or (on Windows) under another name or into a device.
TEST_F(DownloadArchive, ANameThatIsNotAPlainFileNameIsRefused) {
  for (const std::string name : {"../mob_kunde_x.txt", "a/b", "a\\b", "/etc/passwd", "C:x", ".",
                                 "..", "tmp_dl\\..\\..\\x"}) {
    SCOPED_TRACE(name);
    ExpectRefused(Build({File(name)}).bytes,
                  W("enthält den Namen \"") + name + "\" mit einer Ordnerangabe.");
  }
  const std::string unusable[] = {"", "NUL.txt", "con", "Com1.txt", "lpt9", "AUX .txt",
                                  "CONOUT$", "datei.", "datei ", "a*b", "a?b", "a\"b", "a<b",
                                  "a|b", std::string("a\x01" "b"), std::string(256, 'x')};
  for (const std::string& name : unusable) {
    SCOPED_TRACE(name);
    std::string shown = name;
    for (char& c : shown) c = static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    ExpectRefused(Build({File(name)}).bytes,
                  W("enthält den Namen \"") + shown + "\", den eine Datei nicht tragen kann.");
  }
  // Near misses stay plain names.
  EXPECT_TRUE(Check(Build({File("COM10.txt"), File("CONTAKT.txt"), File(std::string(255, 'x')),
                           File("a.b.c")})
                        .bytes)
                  .IsOk());
}

// One name may stand for one file only: Windows tells no case apart, and the
// archive and its dated copy lie in the download folder already.
TEST_F(DownloadArchive, ANameTwiceOrOneTheFolderHasIsRefused) {
  ExpectRefused(Build({File("mob_kunde_x.txt"), File("MOB_Kunde_X.TXT")}).bytes,
                W("enthält \"MOB_Kunde_X.TXT\" zweimal."));
  Entry utf8 = File("M\xC3\xBCller.txt");
  utf8.flags = 0x0800;
  Entry dos = File("M\x9A" "ller.txt");  // Ü in code page 850
  ExpectRefused(Build({utf8, dos}).bytes, W("enthält \"MÜller.txt\" zweimal."));
  for (const std::string name : {"dl_hof.zip", "DL_HOF_09.12.2026.ZIP"}) {
    ExpectRefused(Build({File(name)}).bytes,
                  W("enthält \"") + name + W("\", so heißt schon eine Datei im Download-Ordner."));
  }
}

// unzip writes an entry under the name a Unicode path field gives, and reads
// a Unicode comment field the same way; the check saw the stored name. Such
// a field in the directory or the entry's own header, first or behind a
// plain one, is refused by name.
TEST_F(DownloadArchive, ASecondNameBesideTheCheckedOneIsRefused) {
  const std::string unicodePath = Field(0x7075, std::string("\x01\0\0\0\0CON", 8));
  const std::string unicodeComment = Field(0x6375, std::string("\x01\0\0\0\0Kommentar", 14));
  for (const std::string& field : {unicodePath, unicodeComment, kTimestamp + unicodePath}) {
    for (const bool inDirectory : {true, false}) {
      SCOPED_TRACE(inDirectory ? "directory" : "own header");
      Entry entry = File("mob_kunde_x.txt");
      (inDirectory ? entry.centralExtra : entry.localExtra) = field;
      ExpectRefused(Build({entry}).bytes,
                    W("enthält \"mob_kunde_x.txt\" mit einem zusätzlichen Unicode-Namen"));
    }
  }
}

// unzip asks for a password and waits, or cannot unpack; neither is left to
// it.
TEST_F(DownloadArchive, AnEncryptedEntryOrAnotherPackingIsRefused) {
  for (const uint16_t flags : {0x0001, 0x0041, 0x0040}) {
    Entry entry = File("mob_kunde_x.txt");
    entry.flags = flags;
    ExpectRefused(Build({entry}).bytes, W("enthält \"mob_kunde_x.txt\" verschlüsselt."));
  }
  for (const uint16_t method : {1, 9, 12, 14, 93, 99}) {
    SCOPED_TRACE(method);
    Entry entry = File("mob_kunde_x.txt");
    entry.method = method;
    entry.packed = entry.data;
    ExpectRefused(Build({entry}).bytes,
                  W("enthält \"mob_kunde_x.txt\" in einem Packverfahren, das nicht unterstützt "
                    "wird."));
  }
}

// unzip writes what the data unpacks to, not what the directory counts: an
// entry must unpack to exactly its stated size, or it is refused before
// anything is written.
TEST_F(DownloadArchive, AnEntryThatDoesNotUnpackToItsStatedSizeIsRefused) {
  const std::string content(100000, 'x');
  const std::string whole = Deflated(content);
  std::vector<Entry> cases;
  Entry more = File("mob_kunde_x.txt", content);  // a bomb: far more than stated
  more.statedSize = 100;
  cases.push_back(more);
  Entry less = File("mob_kunde_x.txt", content);
  less.statedSize = 100001;
  cases.push_back(less);
  Entry cut = File("mob_kunde_x.txt", content);  // the stream ends early
  cut.packed = whole.substr(0, whole.size() / 2);
  cases.push_back(cut);
  Entry garbage = File("mob_kunde_x.txt", content);
  garbage.packed = std::string(64, '\xFF');
  cases.push_back(garbage);
  Entry stored = File("mob_kunde_x.txt", content);  // stored: the packed size is the size
  stored.method = 0;
  stored.statedSize = 99999;
  cases.push_back(stored);
  for (const Entry& entry : cases) {
    ExpectRefused(Build({File("mob_stall_x.txt"), entry}).bytes,
                  W("ist beschädigt: \"mob_kunde_x.txt\" packt sich nicht zu der angegebenen "
                    "Größe aus."));
  }
}

// What the server sends is taken within fixed limits (download_limits.h):
// the size of one file and of all files unpacked, the count of files, the
// archive as it comes.
TEST_F(DownloadArchive, AnArchiveBeyondTheLimitsIsRefused) {
  const auto bytes = [](std::uintmax_t n) { return std::to_string(n) + " Bytes."; };
  // One file too large, as the directory states it (also Zip64's marker).
  Entry large = File("mob_kunde_x.txt", std::string(kMaxChangeFileBytes + 1, '\n'));
  ExpectRefused(Build({large}).bytes,
                W("enthält \"mob_kunde_x.txt\" mit mehr als ") + bytes(kMaxChangeFileBytes));
  Entry marked = File("mob_kunde_x.txt");
  marked.statedSize = 0xFFFFFFFF;
  ExpectRefused(Build({marked}).bytes, W("enthält \"mob_kunde_x.txt\" mit mehr als "));
  // Files within the limit one by one, beyond it together.
  std::vector<Entry> many;
  for (int i = 0; i * kMaxChangeFileBytes <= kMaxUnpackedBytes; ++i) {
    many.push_back(File("teil" + std::to_string(i) + ".txt", std::string(kMaxChangeFileBytes, '\n')));
  }
  ExpectRefused(Build(many).bytes, W("wäre ausgepackt größer als ") + bytes(kMaxUnpackedBytes));
  // Too many files, however small.
  std::vector<Entry> files;
  for (std::size_t i = 0; i <= kMaxArchiveEntries; ++i) {
    files.push_back(File("f" + std::to_string(i) + ".txt", ""));
  }
  ExpectRefused(Build(files).bytes,
                W("enthält mehr als ") + std::to_string(kMaxArchiveEntries) + " Dateien.");
  files.pop_back();
  EXPECT_TRUE(Check(Build(files).bytes).IsOk());
  // An archive larger than any the server may send is not read at all.
  const std::string path = dir.File(kArchive);
  testing::WriteFile(path, Build({File("mob_kunde_x.txt")}).bytes);
  fs::resize_file(path, kMaxDownloadArchiveBytes + 1);
  const Outcome result = CheckDownloadArchive(path, kArchive, {kArchive});
  EXPECT_NE(result.Message().find(W("ist größer als ") + bytes(kMaxDownloadArchiveBytes)),
            std::string::npos)
      << result.Message();
}

// An archive whose parts do not hold together is not guessed at: unzip might
// read it another way than the check did.
TEST_F(DownloadArchive, AnArchiveWhosePartsDoNotHoldTogetherIsUnreadable) {
  const Built good = Build({File("mob_stall_x.txt"), File("mob_kunde_x.txt")}, "Kommentar");
  ASSERT_TRUE(Check(good.bytes).IsOk());
  const std::size_t end = good.end;
  const std::size_t second = good.entries[1];
  const std::size_t secondLocal = good.locals[1];
  struct Damage {
    const char* what;
    std::string bytes;
  };
  std::vector<Damage> damages;
  auto damaged = [&](const char* what, auto change) {
    std::string bytes = good.bytes;
    change(bytes);
    damages.push_back({what, bytes});
  };
  damaged("not a zip at all", [](std::string& b) { b = "Fehler: kein Archiv\n"; });
  damaged("nothing", [](std::string& b) { b.clear(); });
  damaged("cut off", [&](std::string& b) { b.resize(end + 10); });
  damaged("cut into the directory", [&](std::string& b) { b.erase(second + 5, 20); });
  damaged("bytes after the comment", [](std::string& b) { b += "x"; });
  damaged("a comment shorter than stated", [&](std::string& b) { Set16(b, end + 20, 12); });
  damaged("on several disks", [&](std::string& b) { Set16(b, end + 4, 1); });
  damaged("the directory on another disk", [&](std::string& b) { Set16(b, end + 6, 1); });
  damaged("entries on this disk differ", [&](std::string& b) { Set16(b, end + 8, 1); });
  damaged("fewer entries than stated", [&](std::string& b) {
    Set16(b, end + 8, 1);
    Set16(b, end + 10, 1);
  });
  damaged("more entries than stated", [&](std::string& b) {
    Set16(b, end + 8, 3);
    Set16(b, end + 10, 3);
  });
  damaged("the directory elsewhere", [&](std::string& b) { Set32(b, end + 16, good.directory - 1); });
  damaged("the directory's size", [&](std::string& b) { Set32(b, end + 12, 10); });
  damaged("Zip64's directory marker", [&](std::string& b) { Set32(b, end + 16, 0xFFFFFFFF); });
  damaged("an entry of the directory without its mark", [&](std::string& b) { b[second] = 'Q'; });
  damaged("an entry on another disk", [&](std::string& b) { Set16(b, second + 34, 1); });
  damaged("an entry's own header elsewhere", [&](std::string& b) { Set32(b, second + 42, 3); });
  damaged("an entry's own header in the directory",
          [&](std::string& b) { Set32(b, second + 42, good.directory); });
  damaged("an entry's own header beyond the file",
          [&](std::string& b) { Set32(b, second + 42, 0x7FFFFFFF); });
  damaged("an own header without its mark", [&](std::string& b) { b[secondLocal + 3] = 9; });
  damaged("an own header with another method", [&](std::string& b) { Set16(b, secondLocal + 8, 0); });
  damaged("an own header with another name",
          [&](std::string& b) { b[secondLocal + 30] = 'M'; });
  damaged("an own header with a longer name", [&](std::string& b) {
    Set16(b, good.locals[0] + 26, 16);
  });
  damaged("an own header encrypted", [&](std::string& b) { Set16(b, secondLocal + 6, 1); });
  damaged("data into the directory", [&](std::string& b) { Set32(b, second + 20, 0x1000); });
  damaged("an own header's extra into the directory",
          [&](std::string& b) { Set16(b, secondLocal + 28, 0x8000); });
  for (const Damage& damage : damages) ExpectUnreadable(damage.bytes, damage.what);

  // Zip64's locator before the end record: unzip would read the directory
  // Zip64's own end record names, not the one checked. (Here it closes the
  // last entry's extra field, so the rest reads as it should.)
  {
    std::string locator;
    Put32(locator, 0x07064b50);
    locator += std::string(16, '\0');
    Entry last = File("mob_kunde_x.txt");
    last.centralExtra = Field(0x6666, locator);
    ExpectUnreadable(Build({File("mob_stall_x.txt"), last}).bytes, "Zip64's locator");
    last.centralExtra = Field(0x6666, std::string(20, '\0'));
    EXPECT_TRUE(Check(Build({File("mob_stall_x.txt"), last}).bytes).IsOk());
  }

  // An extra field that runs past its header, in the directory or the
  // entry's own header; a few bytes of padding after the last are fine.
  for (const bool inDirectory : {true, false}) {
    Entry entry = File("mob_kunde_x.txt");
    (inDirectory ? entry.centralExtra : entry.localExtra) = kTimestamp + Field(0x5855, "12345");
    std::string& extra = inDirectory ? entry.centralExtra : entry.localExtra;
    extra.resize(extra.size() - 1);
    ExpectUnreadable(Build({entry}).bytes, inDirectory ? "directory extra" : "own extra");
    extra = kTimestamp + std::string(2, '\0');
    EXPECT_TRUE(Check(Build({entry}).bytes).IsOk());
  }
}

// What cannot be read is said as it is, not taken for an empty archive.
TEST_F(DownloadArchive, AnArchiveThatCannotBeReadStopsTheDownload) {
  const Outcome missing = CheckDownloadArchive(dir.File("fehlt.zip"), kArchive, {});
  EXPECT_FALSE(missing.IsOk());
  EXPECT_EQ(missing.Step(), W("Archivprüfung"));
  EXPECT_NE(missing.Message().find("Es wird nicht ausgepackt"), std::string::npos)
      << missing.Message();
}

}  // namespace
}  // namespace kelvanor
