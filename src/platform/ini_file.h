// Ini files with the semantics of Windows profile functions: every read and
// write opens the file anew, a missing file reads as defaults, writing creates
// it, section and key names compare without case, values are Windows-1252.
#pragma once

#include <string>

namespace kelvanor {

std::string IniReadString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& defaultValue);
// Decimal or 0x/0X hexadecimal; anything else gives the default.
long IniReadInteger(const std::string& path, const std::string& section, const std::string& key,
                    long defaultValue);
// Stored as integer: 0 false, any other number true, not a number: default.
bool IniReadBool(const std::string& path, const std::string& section, const std::string& key,
                 bool defaultValue);

// Raise EInOutError with a German message when the file cannot be written.
void IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);
void IniWriteInteger(const std::string& path, const std::string& section, const std::string& key,
                     long value);

}  // namespace kelvanor
