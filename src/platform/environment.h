// Environment and the program's own identity.
#pragma once

#include <string>

namespace kelvanor {

// Value of an environment variable; "" when unset or empty.
std::string GetEnvVar(const std::string& name);

// The compiled-in program version "%d.%d.%d.%d", e.g. 1.0.0.72.
std::string ExeVersionString();

// Folder of the running executable, with a trailing separator.
std::string ExecutableFolder();

// The platform's path separator.
constexpr char kPathSep = '/';

}  // namespace kelvanor
