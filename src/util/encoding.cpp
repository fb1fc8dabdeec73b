#include "util/encoding.h"

#include <cstdint>

#include "util/w1252.h"

namespace kelvanor {

namespace {

using w1252::kHighCodePoints;

// The code point of a byte; the five bytes Windows-1252 leaves unassigned
// stand for the code point of the same value (and come back to it).
uint32_t CodePointOf(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F && kHighCodePoints[b - 0x80] != 0) return kHighCodePoints[b - 0x80];
  return b;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char ByteOfCodePoint(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  // One of the five unassigned bytes, read back as it was written.
  if (cp <= 0x9F && kHighCodePoints[cp - 0x80] == 0) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHighCodePoints[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}
// Windows-1252 byte 0x80 + i -> its code page 850 byte; 0 where 850 has none.
constexpr unsigned char kAnsiToOem[128] = {
    0x00, 0x00, 0x00, 0x9F, 0x00, 0x00, 0x00, 0x00,  // 0x80: only ƒ
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xFF, 0xAD, 0xBD, 0x9C, 0xCF, 0xBE, 0xDD, 0xF5,  // 0xA0: NBSP ¡ ¢ £ ¤ ¥ ¦ §
    0xF9, 0xB8, 0xA6, 0xAE, 0xAA, 0xF0, 0xA9, 0xEE,
    0xF8, 0xF1, 0xFD, 0xFC, 0xEF, 0xE6, 0xF4, 0xFA,
    0xF7, 0xFB, 0xA7, 0xAF, 0xAC, 0xAB, 0xF3, 0xA8,
    0xB7, 0xB5, 0xB6, 0xC7, 0x8E, 0x8F, 0x92, 0x80,  // 0xC0: À Á Â Ã Ä Å Æ Ç
    0xD4, 0x90, 0xD2, 0xD3, 0xDE, 0xD6, 0xD7, 0xD8,
    0xD1, 0xA5, 0xE3, 0xE0, 0xE2, 0xE5, 0x99, 0x9E,
    0x9D, 0xEB, 0xE9, 0xEA, 0x9A, 0xED, 0xE8, 0xE1,
    0x85, 0xA0, 0x83, 0xC6, 0x84, 0x86, 0x91, 0x87,  // 0xE0: à á â ã ä å æ ç
    0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0xD0, 0xA4, 0x95, 0xA2, 0x93, 0xE4, 0x94, 0xF6,
    0x9B, 0x97, 0xA3, 0x96, 0x81, 0xEC, 0xE7, 0x98};

// Code points of the code page 850 bytes 0x80..0xFF.
constexpr uint16_t kOemHigh[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0};

// 0 when code page 850 has no byte for this Windows-1252 byte.
unsigned char OemByteOf(unsigned char ansi) {
  return ansi < 0x80 ? ansi : kAnsiToOem[ansi - 0x80];
}

}  // namespace

std::string AnsiToUtf8Name(const std::string& ansi) {
  std::string out;
  out.reserve(ansi.size() + ansi.size() / 4);
  for (char c : ansi) AppendUtf8(out, CodePointOf(static_cast<unsigned char>(c)));
  return out;
}

namespace {

// Calls onCodePoint(cp) for every UTF-8 sequence and onByte(b) for every
// byte that is not part of one.
template <typename OnCodePoint, typename OnByte>
void DecodeUtf8(const std::string& utf8, OnCodePoint onCodePoint, OnByte onByte) {
  std::size_t i = 0;
  const std::size_t n = utf8.size();
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    int len = 0;
    uint32_t cp = 0;
    if (b < 0x80) {
      onCodePoint(b);
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
      cp = b & 0x07;
    }
    bool valid = len > 0 && i + len <= n;
    for (int k = 1; valid && k < len; ++k) {
      unsigned char cont = static_cast<unsigned char>(utf8[i + k]);
      if ((cont & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (cont & 0x3F);
    }
    if (!valid) {
      onByte(b);
      ++i;
      continue;
    }
    onCodePoint(cp);
    i += static_cast<std::size_t>(len);
  }
}

}  // namespace

std::string Utf8ToCp1252(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  DecodeUtf8(
      utf8, [&out](uint32_t cp) { out += ByteOfCodePoint(cp); },
      // Not UTF-8: take the byte as Windows-1252, as it most likely is.
      [&out](unsigned char b) { out += static_cast<char>(b); });
  return out;
}

std::string CodePointName(unsigned long codePoint) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string digits;
  for (; codePoint != 0 || digits.size() < 4; codePoint >>= 4) {
    digits.insert(digits.begin(), kHex[codePoint & 0xF]);
  }
  return "U+" + digits;
}

std::string FirstCharacterCp1252Lacks(const std::string& utf8) {
  std::string lacking;
  DecodeUtf8(
      utf8,
      [&lacking](uint32_t cp) {
        if (lacking.empty() && cp != '?' && ByteOfCodePoint(cp) == '?') {
          lacking = CodePointName(cp);
        }
      },
      [](unsigned char) {});
  return lacking;
}

std::string Utf8ToCp1252Marked(const std::string& utf8, bool* lacking) {
  std::string out;
  out.reserve(utf8.size());
  DecodeUtf8(
      utf8,
      [&](uint32_t cp) {
        const char byte = ByteOfCodePoint(cp);
        if (byte == '?' && cp != '?') {
          out += "<" + CodePointName(cp) + ">";
          if (lacking != nullptr) *lacking = true;
        } else {
          out += byte;
        }
      },
      [&out](unsigned char b) { out += static_cast<char>(b); });
  return out;
}

std::string Utf16ToUtf8(const std::string& bytes, bool bigEndian) {
  constexpr uint32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(bytes.size());
  auto unitAt = [&](std::size_t i) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<uint32_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  };
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const uint32_t unit = unitAt(i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const uint32_t low = unitAt(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit);
  }
  if (i < bytes.size()) AppendUtf8(out, kReplacement);
  return out;
}

std::string AnsiToOem(const std::string& ansi) {
  std::string out = ansi;
  for (char& c : out) {
    const unsigned char oem = OemByteOf(static_cast<unsigned char>(c));
    c = oem != 0 || c == '\0' ? static_cast<char>(oem) : '?';
  }
  return out;
}

std::size_t FindNonOemCharacter(const std::string& ansi) {
  for (std::size_t i = 0; i < ansi.size(); ++i) {
    if (ansi[i] != '\0' && OemByteOf(static_cast<unsigned char>(ansi[i])) == 0) return i;
  }
  return std::string::npos;
}

std::string OemToUtf8(const std::string& oem) {
  std::string out;
  out.reserve(oem.size() + oem.size() / 4);
  for (char c : oem) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, b < 0x80 ? b : kOemHigh[b - 0x80]);
  }
  return out;
}

bool IsMultiByteUtf8(const std::string& bytes) {
  bool multiByte = false;
  const std::size_t size = bytes.size();
  for (std::size_t i = 0; i < size;) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned long cp = 0;
    unsigned long least = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, cp = lead & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (i + length > size) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    multiByte = true;
    i += length;
  }
  return multiByte;
}

}  // namespace kelvanor
