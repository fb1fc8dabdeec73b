// German texts written as the user reads them: W1252("Datensätze") is the
// Windows-1252 bytes of the UTF-8 literal, converted while compiling. The
// tool's texts are Windows-1252 end to end (database, change files, ini
// files); the source files are UTF-8 so a maintainer can read and grep them.
// A letter Windows-1252 cannot hold, or a literal that is not valid UTF-8
// (a lone escaped byte, as the sources once wrote umlauts), stops the
// compilation instead of becoming a "?".
#pragma once

#include <cstddef>

namespace kelvanor::w1252 {

// A string literal as a template argument.
template <std::size_t N>
struct Utf8Literal {
  char text[N]{};
  constexpr Utf8Literal(const char (&literal)[N]) {
    for (std::size_t i = 0; i < N; ++i) text[i] = literal[i];
  }
};

// Never defined and never called at run time: reached only while a literal
// is converted, it makes that constant evaluation fail, so the compiler
// reports the literal together with this call and its reason.
void NotInWindows1252(const char* why);

// The code points of the bytes 0x80..0x9F, which Windows-1252 gives
// typographic letters instead of control codes; 0 for the five bytes it
// leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D). Every other byte is the
// code point of its own value. The one table of the tool: the conversions
// at run time (util/encoding.cpp) read it too.
inline constexpr char32_t kHighCodePoints[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The byte Windows-1252 gives the code point `cp`.
constexpr unsigned char ByteOf(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (unsigned i = 0; i < 32; ++i)
    if (kHighCodePoints[i] != 0 && kHighCodePoints[i] == cp)
      return static_cast<unsigned char>(0x80 + i);
  NotInWindows1252("Zeichen fehlt in Windows-1252");
  return 0;
}

struct Decoded {
  char32_t cp;
  std::size_t length;
};

constexpr Decoded DecodeUtf8(const char* s, std::size_t at, std::size_t end) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t cp = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    cp = lead & 0x07;
  } else {
    NotInWindows1252("kein UTF-8");
  }
  if (at + length > end) NotInWindows1252("kein UTF-8");
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) NotInWindows1252("kein UTF-8");
    cp = (cp << 6) | (byte(at + i) & 0x3F);
  }
  return {cp, length};
}

template <Utf8Literal S>
constexpr std::size_t ConvertedSize() {
  std::size_t size = 0;
  for (std::size_t at = 0; at + 1 < sizeof(S.text);) {
    at += DecodeUtf8(S.text, at, sizeof(S.text) - 1).length;
    ++size;
  }
  return size + 1;
}

template <Utf8Literal S>
struct Converted {
  char text[ConvertedSize<S>()]{};
  constexpr Converted() {
    std::size_t out = 0;
    for (std::size_t at = 0; at + 1 < sizeof(S.text);) {
      const Decoded d = DecodeUtf8(S.text, at, sizeof(S.text) - 1);
      text[out++] = static_cast<char>(ByteOf(d.cp));
      at += d.length;
    }
  }
};

template <Utf8Literal S>
inline constexpr Converted<S> kText{};

}  // namespace kelvanor::w1252

// The Windows-1252 bytes of a UTF-8 string literal, as a const char* to a
// static array (ends with '\0').
#define W1252(literal) (::kelvanor::w1252::kText<literal>.text)
