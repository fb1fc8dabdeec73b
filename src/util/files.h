// Small file-system helpers. Paths are Windows-1252 like every other text of
// the tool; they are converted to UTF-8 for the file system here.
#pragma once

#include <string>
#include <vector>

namespace kelvanor {

// True when the path exists and is a folder.
bool DirectoryExists(const std::string& path);
bool FileExists(const std::string& path);

// Reads a whole file; raises EInOutError with a German message when it cannot.
std::string ReadWholeFile(const std::string& path);

// Writes a file so that readers see either the old or the new content: the
// bytes go to a temporary file beside it which then replaces the target.
// Raises EInOutError with a German message when it cannot.
void WriteFileAtomically(const std::string& path, const std::string& bytes);

// Splits file content into lines at CR, LF or CR LF; a last line without
// terminator counts; empty content gives no line.
std::vector<std::string> SplitLines(const std::string& content);

// The folder of a path including its trailing separator ("" when none).
std::string ExtractFilePath(const std::string& path);

}  // namespace kelvanor
