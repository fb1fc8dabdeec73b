// Windows-1252 <-> UTF-16 for the wide-character calls of Windows. Only the
// Windows side of this layer uses it.
#pragma once

#ifdef _WIN32
#include <string>

namespace kelvanor {

std::wstring AnsiToWide(const std::string& ansi);
// Characters Windows-1252 lacks become "?".
std::string WideToAnsi(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);

}  // namespace kelvanor
#endif
