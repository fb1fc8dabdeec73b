#include "util/text.h"

#include "util/w1252.h"

namespace kelvanor {

std::vector<std::string> SplitFields(const std::string& line, std::size_t highestSlot) {
  std::vector<std::string> fields;
  fields.reserve(highestSlot + 1);
  std::size_t start = 0;
  for (;;) {
    std::size_t sep = line.find(';', start);
    if (sep == std::string::npos) {
      fields.push_back(line.substr(start));
      break;
    }
    fields.push_back(line.substr(start, sep - start));
    start = sep + 1;
  }
  if (fields.size() < highestSlot + 1) fields.resize(highestSlot + 1);
  return fields;
}

std::size_t SplitFieldsBy(char sep, const std::string& text, std::vector<std::string>& parts,
                          std::size_t highestSlot) {
  parts.assign(highestSlot + 1, std::string());
  std::size_t i = 0;
  std::size_t start = 0;
  while (i < highestSlot) {
    std::size_t pos = text.find(sep, start);
    if (pos == std::string::npos) break;
    parts[i] = text.substr(start, pos - start);
    start = pos + 1;
    ++i;
  }
  parts[i] = text.substr(start);
  return i + 1;
}

std::string ReplaceAll(const std::string& text, const std::string& pattern,
                       const std::string& replacement) {
  if (pattern.empty()) return text;
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = text.find(pattern, pos);
    if (hit == std::string::npos) break;
    out.append(text, pos, hit - pos);
    out += replacement;
    pos = hit + pattern.size();
  }
  out.append(text, pos, std::string::npos);
  return out;
}

std::string EscapeQuotes(const std::string& text) { return ReplaceAll(text, "\"", "+!"); }

std::string UnescapeQuotes(const std::string& text) { return ReplaceAll(text, "+!", "\"\""); }

std::string Transliterate(const std::string& text) {
  std::string s = ReplaceAll(text, W1252("ß"), "ss");
  s = ReplaceAll(s, W1252("ü"), "ue");
  s = ReplaceAll(s, W1252("ä"), "ae");
  return ReplaceAll(s, W1252("ö"), "oe");
}

std::string StripTags(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool inTag = false;
  for (char c : text) {
    if (c == '<') {
      inTag = true;
    } else if (c == '>') {
      inTag = false;
    } else if (!inTag) {
      out += c;
    }
  }
  return out;
}

std::string TrimBlanks(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string Trim(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= 0x20) ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= 0x20) --last;
  return text.substr(first, last - first);
}

char AnsiUpperChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 32);  // à..þ, not ÷
  if (u == 0x9A || u == 0x9C || u == 0x9E) return static_cast<char>(u - 16);  // š œ ž
  if (u == 0xFF) return static_cast<char>(0x9F);                              // ÿ
  return c;
}

std::string AnsiUpperCase(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = AnsiUpperChar(c);
  return out;
}

std::string AsciiLowerCase(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  const std::size_t n = content.size();
  std::size_t i = 0;
  while (i < n) {
    char c = content[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(content.substr(start, i - start));
      if (c == '\r' && i + 1 < n && content[i + 1] == '\n') ++i;
      start = i + 1;
    }
    ++i;
  }
  if (start < n) lines.push_back(content.substr(start));
  return lines;
}

std::string Counted(std::size_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace kelvanor
