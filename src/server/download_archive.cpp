#include "server/download_archive.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "server/download_limits.h"
#include "platform/file_system.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

namespace fs = std::filesystem;

constexpr const char* kStep = W1252("Archivprüfung");
constexpr char kStopped[] =
    " Es wird nicht ausgepackt; die Synchronisation wurde abgebrochen, die Daten bleiben auf "
    "dem Server.";

constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr uint32_t kDirectoryEntry = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kEntrySize = 46;
constexpr std::size_t kLocalSize = 30;
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;

// Extra fields that give an entry a second name (or comment) in UTF-8;
// unzip takes that name over the one stored in the header.
constexpr uint16_t kUnicodePathField = 0x7075;
constexpr uint16_t kUnicodeCommentField = 0x6375;
constexpr std::size_t kExtraFieldHeader = 4;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagUtf8Name = 0x0800;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;

uint16_t U16(const std::string& b, std::size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                               (static_cast<unsigned char>(b[at + 1]) << 8));
}

uint32_t U32(const std::string& b, std::size_t at) {
  return static_cast<uint32_t>(U16(b, at)) | (static_cast<uint32_t>(U16(b, at + 2)) << 16);
}

// An entry's name as the tool's texts hold it: the archive stores UTF-8
// (flagged) or the DOS code page.
std::string AnsiName(const std::string& raw, bool utf8) {
  return Utf8ToCp1252(utf8 ? raw : OemToUtf8(raw));
}

// The name for a message: nothing in it may steer a terminal.
std::string Shown(const std::string& ansiName) {
  std::string shown = ansiName;
  for (char& c : shown) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return "\"" + shown + "\"";
}

Outcome Refused(const std::string& archiveName, const std::string& why) {
  return Outcome::Failed(kStep, 0, "Das Archiv " + archiveName + " vom Server " + why + kStopped);
}

Outcome Unreadable(const std::string& archiveName) {
  return Refused(archiveName, "ist kein lesbares Zip-Archiv.");
}

enum class Kind { kFile, kLink, kFolder, kOther };

// What unzip would make of the entry: the Unix file type in the high half of
// the external attributes, else the DOS attributes in the low byte.
Kind KindOf(uint32_t external, const std::string& raw) {
  switch ((external >> 16) & 0170000) {
    case 0:
    case 0100000:
      break;
    case 0120000:
      return Kind::kLink;
    case 0040000:
      return Kind::kFolder;
    default:
      return Kind::kOther;  // a device, a pipe, a socket
  }
  if ((external & 0x400) != 0) return Kind::kLink;  // a Windows reparse point
  if ((external & 0x10) != 0) return Kind::kFolder;
  if ((external & 0x08) != 0) return Kind::kOther;  // a volume label
  if (!raw.empty() && (raw.back() == '/' || raw.back() == '\\')) return Kind::kFolder;
  return Kind::kFile;
}

std::string KindText(Kind kind) {
  switch (kind) {
    case Kind::kLink:
      return W1252("als Verknüpfung");
    case Kind::kFolder:
      return "als Ordner";
    case Kind::kOther:
      return W1252("als etwas anderes als eine Datei (Gerät, Pipe o. Ä.)");
    case Kind::kFile:
      break;
  }
  return std::string();
}

enum class NameFault { kNone, kFolderPart, kUnusable };

bool IsDeviceName(const std::string& name) {
  std::string stem = AnsiUpperCase(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
      stem == "CONOUT$") {
    return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '0' && stem[3] <= '9';
}

// A plain name is a file name and nothing more, one Windows can hold as it
// stands (it drops a trailing dot or blank, and "NUL.txt" is the device).
NameFault CheckName(const std::string& raw) {
  if (raw.empty()) return NameFault::kUnusable;
  if (raw == "." || raw == ".." || raw.find_first_of("/\\:") != std::string::npos) {
    return NameFault::kFolderPart;
  }
  for (const char c : raw) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::strchr("*?\"<>|", c) != nullptr) return NameFault::kUnusable;
  }
  if (raw.size() > 255 || raw.back() == '.' || raw.back() == ' ' || IsDeviceName(raw)) {
    return NameFault::kUnusable;
  }
  return NameFault::kNone;
}

// Does the entry's data unpack to exactly `size` bytes? Inflated in pieces
// and thrown away: no more than `size` bytes are ever produced.
bool UnpacksToItsSize(const std::string& bytes, std::size_t start, uint32_t packed, uint16_t method,
                      uint32_t size) {
  if (method == kStored) return packed == size;
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + start));
  z.avail_in = packed;
  unsigned char out[64 * 1024];
  uint64_t total = 0;
  bool ended = false;
  for (;;) {
    z.next_out = out;
    z.avail_out = sizeof out;
    const int rc = inflate(&z, Z_NO_FLUSH);
    total += sizeof out - z.avail_out;
    if (total > size) break;
    if (rc == Z_STREAM_END) {
      ended = true;
      break;
    }
    if (rc != Z_OK) break;  // damaged, or the data ends before the stream does
  }
  inflateEnd(&z);
  return ended && total == size;
}

enum class ExtraFields { kPlain, kSecondName, kDamaged };

// The extra fields of a header, `length` bytes at `at`. Every field must end
// within them (a few bytes of padding after the last are left alone, as
// unzip does); a Unicode path or comment field is a second name unzip would
// write the entry under, which the checks here never saw.
ExtraFields ReadExtraFields(const std::string& bytes, std::size_t at, std::size_t length) {
  std::size_t pos = at;
  const std::size_t end = at + length;
  while (end - pos >= kExtraFieldHeader) {
    const uint16_t id = U16(bytes, pos);
    const std::size_t size = U16(bytes, pos + 2);
    if (size > end - pos - kExtraFieldHeader) return ExtraFields::kDamaged;
    if (id == kUnicodePathField || id == kUnicodeCommentField) return ExtraFields::kSecondName;
    pos += kExtraFieldHeader + size;
  }
  return ExtraFields::kPlain;
}

std::string SecondName(const std::string& shown) {
  return W1252("enthält ") + shown +
         W1252(" mit einem zusätzlichen Unicode-Namen oder -Kommentar; unzip könnte die Datei "
               "unter einem anderen als dem geprüften Namen ablegen.");
}

// One entry of the archive's directory.
struct Entry {
  std::string raw;   // the name as stored
  std::string name;  // the name in Windows-1252
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t packed = 0;
  uint32_t unpacked = 0;
  uint32_t external = 0;  // the file type and attributes
  uint32_t local = 0;     // where its own header starts
};

// Why unzip must not write `entry` ("" when it may). `names` holds the names
// so far, upper-cased (Windows does not tell case apart), true for those the
// download folder has already; the entry's name is added.
std::string WhyRefused(const Entry& entry, std::map<std::string, bool>& names) {
  const std::string shown = Shown(entry.name);
  const Kind kind = KindOf(entry.external, entry.raw);
  if (kind != Kind::kFile) return W1252("enthält ") + shown + " " + KindText(kind) + ".";
  switch (CheckName(entry.raw)) {
    case NameFault::kFolderPart:
      return W1252("enthält den Namen ") + shown + " mit einer Ordnerangabe.";
    case NameFault::kUnusable:
      return W1252("enthält den Namen ") + shown + ", den eine Datei nicht tragen kann.";
    case NameFault::kNone:
      break;
  }
  const auto [known, added] = names.emplace(AnsiUpperCase(entry.name), false);
  if (!added && known->second) {
    return W1252("enthält ") + shown + W1252(", so heißt schon eine Datei im Download-Ordner.");
  }
  if (!added) return W1252("enthält ") + shown + " zweimal.";
  // unzip would ask for a password and wait.
  if ((entry.flags & (kFlagEncrypted | kFlagStrongEncryption)) != 0) {
    return W1252("enthält ") + shown + W1252(" verschlüsselt.");
  }
  if (entry.method != kStored && entry.method != kDeflated) {
    return W1252("enthält ") + shown +
           W1252(" in einem Packverfahren, das nicht unterstützt wird.");
  }
  if (entry.packed == kZip64Marker || entry.unpacked == kZip64Marker ||
      entry.local == kZip64Marker || entry.unpacked > kMaxChangeFileBytes) {
    return W1252("enthält ") + shown + " mit mehr als " + std::to_string(kMaxChangeFileBytes) +
           " Bytes.";
  }
  return std::string();
}

}  // namespace

Outcome CheckDownloadArchive(const std::string& archivePath, const std::string& archiveName,
                             const std::vector<std::string>& taken) {
  std::string bytes;
  try {
    if (!ReadPlainFile(archivePath, kMaxDownloadArchiveBytes, bytes)) {
      return Refused(archiveName, W1252("ist größer als ") +
                                      std::to_string(kMaxDownloadArchiveBytes) + " Bytes.");
    }
  } catch (const EInOutError& e) {
    return Outcome::Failed(kStep, 0, std::string(e.what()) + "." + kStopped);
  }
  const std::size_t size = bytes.size();
  if (size < kEndSize) return Unreadable(archiveName);

  // The directory's end record closes the file, followed only by its comment.
  const std::size_t lowest = size > kEndSize + 0xFFFF ? size - kEndSize - 0xFFFF : 0;
  std::size_t end = std::string::npos;
  for (std::size_t p = size - kEndSize + 1; p-- > lowest;) {
    if (U32(bytes, p) == kEndOfDirectory) {
      end = p;
      break;
    }
  }
  if (end == std::string::npos || end + kEndSize + U16(bytes, end + 20) != size) {
    return Unreadable(archiveName);
  }
  // Zip64 is for archives far beyond the limits; several disks never occur.
  if (end >= 20 && U32(bytes, end - 20) == kZip64Locator) return Unreadable(archiveName);
  const uint16_t entries = U16(bytes, end + 10);
  const uint32_t directorySize = U32(bytes, end + 12);
  const uint32_t directory = U32(bytes, end + 16);
  if (U16(bytes, end + 4) != 0 || U16(bytes, end + 6) != 0 || U16(bytes, end + 8) != entries ||
      directory == kZip64Marker || static_cast<uint64_t>(directory) + directorySize != end) {
    return Unreadable(archiveName);
  }
  if (entries > kMaxArchiveEntries) {
    return Refused(archiveName,
                   W1252("enthält mehr als ") + std::to_string(kMaxArchiveEntries) + " Dateien.");
  }

  std::map<std::string, bool> names;
  for (const std::string& name : taken) names[AnsiUpperCase(name)] = true;
  uint64_t total = 0;
  std::size_t pos = directory;
  for (uint16_t i = 0; i < entries; ++i) {
    if (pos + kEntrySize > end || U32(bytes, pos) != kDirectoryEntry) {
      return Unreadable(archiveName);
    }
    Entry entry;
    entry.flags = U16(bytes, pos + 8);
    entry.method = U16(bytes, pos + 10);
    entry.packed = U32(bytes, pos + 20);
    entry.unpacked = U32(bytes, pos + 24);
    const uint16_t nameLength = U16(bytes, pos + 28);
    entry.external = U32(bytes, pos + 38);
    entry.local = U32(bytes, pos + 42);
    const std::size_t next =
        pos + kEntrySize + nameLength + U16(bytes, pos + 30) + U16(bytes, pos + 32);
    if (next > end || U16(bytes, pos + 34) != 0) return Unreadable(archiveName);
    entry.raw = bytes.substr(pos + kEntrySize, nameLength);
    entry.name = AnsiName(entry.raw, (entry.flags & kFlagUtf8Name) != 0);

    const std::string why = WhyRefused(entry, names);
    if (!why.empty()) return Refused(archiveName, why);
    switch (ReadExtraFields(bytes, pos + kEntrySize + nameLength, U16(bytes, pos + 30))) {
      case ExtraFields::kSecondName: return Refused(archiveName, SecondName(Shown(entry.name)));
      case ExtraFields::kDamaged: return Unreadable(archiveName);
      case ExtraFields::kPlain: break;
    }
    total += entry.unpacked;
    if (total > kMaxUnpackedBytes) {
      return Refused(archiveName, W1252("wäre ausgepackt größer als ") +
                                      std::to_string(kMaxUnpackedBytes) + " Bytes.");
    }

    // The entry's own header, by which unzip finds the data, must tell the
    // same; the data must unpack to the size counted above.
    const std::size_t local = entry.local;
    if (local + kLocalSize > directory || U32(bytes, local) != kLocalHeader) {
      return Unreadable(archiveName);
    }
    const uint16_t localNameLength = U16(bytes, local + 26);
    const std::size_t data = local + kLocalSize + localNameLength + U16(bytes, local + 28);
    if (U16(bytes, local + 8) != entry.method ||
        (U16(bytes, local + 6) & kFlagEncrypted) != (entry.flags & kFlagEncrypted) ||
        localNameLength != nameLength ||
        bytes.compare(local + kLocalSize, nameLength, entry.raw) != 0 || data > directory ||
        entry.packed > directory - data) {
      return Unreadable(archiveName);
    }
    switch (ReadExtraFields(bytes, local + kLocalSize + localNameLength, U16(bytes, local + 28))) {
      case ExtraFields::kSecondName: return Refused(archiveName, SecondName(Shown(entry.name)));
      case ExtraFields::kDamaged: return Unreadable(archiveName);
      case ExtraFields::kPlain: break;
    }
    if (!UnpacksToItsSize(bytes, data, entry.packed, entry.method, entry.unpacked)) {
      return Refused(archiveName, W1252("ist beschädigt: ") + Shown(entry.name) +
                                      W1252(" packt sich nicht zu der angegebenen Größe aus."));
    }
    pos = next;
  }
  if (pos != end) return Unreadable(archiveName);
  return Outcome::Ok();
}

Outcome CheckDownloadFolder(const std::string& folder) {
  const auto refused = [](const std::string& name, const std::string& what) {
    return Outcome::Failed(kStep, 0,
                           "Im Download-Ordner liegt nach dem Auspacken " + Shown(name) + " " +
                               what + W1252("; die empfangenen Daten werden nicht übernommen.") +
                               " Die Synchronisation wurde abgebrochen, die Daten bleiben auf "
                               "dem Server.");
  };
  std::error_code ec;
  for (fs::directory_iterator it(SystemPath(folder), ec), stop; !ec && it != stop;
       it.increment(ec)) {
    const std::string name = AnsiPath(it->path().filename());
    switch (KindOfEntry(it->path())) {
      case EntryKind::kFile: {
        std::error_code sized;
        const std::uintmax_t bytes = fs::file_size(it->path(), sized);
        if (sized || bytes > kMaxChangeFileBytes) {
          return refused(name, "mit mehr als " + std::to_string(kMaxChangeFileBytes) + " Bytes");
        }
        break;
      }
      case EntryKind::kMissing:
        break;
      case EntryKind::kLink:
        return refused(name, KindText(Kind::kLink));
      case EntryKind::kFolder:
        return refused(name, KindText(Kind::kFolder));
      case EntryKind::kOther:
        return refused(name, KindText(Kind::kOther));
    }
  }
  if (ec) {
    return Outcome::Failed(kStep, 0,
                           "Der Download-Ordner " + folder + " kann nicht gelesen werden.");
  }
  return Outcome::Ok();
}

}  // namespace kelvanor
