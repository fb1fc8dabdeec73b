#include "db/declared_type.h"

#include <cstddef>
#include <vector>

namespace kelvanor {

namespace {

enum class Kind { kWord, kQuoted, kOpen, kClose, kComma, kOther };

struct Token {
  Kind kind;
  std::size_t begin;
  std::size_t end;
};

bool IsWordChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c >= 0x80;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// SQLite's tokens as far as a column list needs them; comments are dropped.
std::vector<Token> Tokenize(const std::string& sql) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  const std::size_t n = sql.size();
  while (i < n) {
    const char c = sql[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      ++i;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const std::size_t close = sql.find("*/", i + 2);
      i = close == std::string::npos ? n : close + 2;
    } else if (c == '"' || c == '\'' || c == '`' || c == '[') {
      const char closing = c == '[' ? ']' : c;
      std::size_t j = i + 1;
      while (j < n) {
        if (sql[j] == closing) {
          // A doubled quote stands for itself; brackets have no escape.
          if (c != '[' && j + 1 < n && sql[j + 1] == closing) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      const std::size_t end = j < n ? j + 1 : n;
      tokens.push_back({Kind::kQuoted, i, end});
      i = end;
    } else if (IsWordChar(static_cast<unsigned char>(c))) {
      std::size_t j = i;
      while (j < n && IsWordChar(static_cast<unsigned char>(sql[j]))) ++j;
      tokens.push_back({Kind::kWord, i, j});
      i = j;
    } else {
      const Kind kind = c == '(' ? Kind::kOpen : c == ')' ? Kind::kClose : c == ',' ? Kind::kComma
                                                                                 : Kind::kOther;
      tokens.push_back({kind, i, i + 1});
      ++i;
    }
  }
  return tokens;
}

// SQLite's own dequoting: only a text that starts with a quote is unquoted.
std::string Dequote(const std::string& text) {
  if (text.empty()) return text;
  const char open = text[0];
  if (open != '"' && open != '\'' && open != '`' && open != '[') return text;
  const char closing = open == '[' ? ']' : open;
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == closing) {
      if (open != '[' && i + 1 < text.size() && text[i + 1] == closing) {
        out += closing;
        ++i;
        continue;
      }
      break;
    }
    out += text[i];
  }
  return out;
}

std::string Upper(const std::string& sql, const Token& t) {
  std::string word = sql.substr(t.begin, t.end - t.begin);
  for (char& c : word) c = AsciiUpper(c);
  return word;
}

// Words that end a type and start a column constraint.
bool EndsType(const std::string& upperWord) {
  static const char* const kWords[] = {"CONSTRAINT", "PRIMARY",    "NOT",     "NULL",
                                       "UNIQUE",     "CHECK",      "DEFAULT", "COLLATE",
                                       "REFERENCES", "GENERATED",  "AS"};
  for (const char* w : kWords) {
    if (upperWord == w) return true;
  }
  return false;
}

// Words that start a table constraint rather than a column.
bool StartsTableConstraint(const std::string& upperWord) {
  return upperWord == "CONSTRAINT" || upperWord == "PRIMARY" || upperWord == "UNIQUE" ||
         upperWord == "CHECK" || upperWord == "FOREIGN";
}

// The type of one column definition (tokens [first, last)), spelt as written.
std::string TypeOf(const std::string& sql, const std::vector<Token>& tokens, std::size_t first,
                   std::size_t last) {
  std::size_t begin = std::string::npos;
  std::size_t end = std::string::npos;
  std::size_t i = first + 1;  // after the name
  while (i < last) {
    const Token& t = tokens[i];
    if (t.kind == Kind::kWord && EndsType(Upper(sql, t))) break;
    if (t.kind == Kind::kWord || t.kind == Kind::kQuoted) {
      if (begin == std::string::npos) begin = t.begin;
      end = t.end;
      ++i;
      continue;
    }
    if (t.kind == Kind::kOpen && begin != std::string::npos) {
      int depth = 0;
      for (; i < last; ++i) {
        if (tokens[i].kind == Kind::kOpen) ++depth;
        if (tokens[i].kind == Kind::kClose && --depth == 0) {
          end = tokens[i].end;
          break;
        }
      }
    }
    break;
  }
  if (begin == std::string::npos) return std::string();
  return Dequote(sql.substr(begin, end - begin));
}

}  // namespace

std::optional<std::string> DeclaredTypeInCreateTable(const std::string& createSql,
                                                     const std::string& column) {
  const std::vector<Token> tokens = Tokenize(createSql);
  std::size_t i = 0;
  while (i < tokens.size() && tokens[i].kind != Kind::kOpen) ++i;
  if (i == tokens.size()) return std::nullopt;
  ++i;
  // Walk the definitions of the column list, split at top-level commas.
  while (i < tokens.size()) {
    const std::size_t first = i;
    int depth = 0;
    while (i < tokens.size()) {
      if (tokens[i].kind == Kind::kOpen) ++depth;
      if (tokens[i].kind == Kind::kClose) {
        if (depth == 0) break;
        --depth;
      }
      if (tokens[i].kind == Kind::kComma && depth == 0) break;
      ++i;
    }
    const std::size_t last = i;
    if (last > first) {
      const Token& name = tokens[first];
      const bool isColumn =
          name.kind == Kind::kQuoted ||
          (name.kind == Kind::kWord && !StartsTableConstraint(Upper(createSql, name)));
      if (isColumn &&
          EqualsIgnoringAsciiCase(Dequote(createSql.substr(name.begin, name.end - name.begin)),
                                  column)) {
        return TypeOf(createSql, tokens, first, last);
      }
    }
    if (i >= tokens.size() || tokens[i].kind == Kind::kClose) break;
    ++i;  // the comma
  }
  return std::nullopt;
}

}  // namespace kelvanor
