// Test support: a test that checks what only the Linux build has skips
// itself in the Windows build, with its reason; ctest counts it as skipped.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#define KELVANOR_LINUX_ONLY(reason) GTEST_SKIP() << "Linux only: " << (reason)
#else
#define KELVANOR_LINUX_ONLY(reason) static_cast<void>(0)
#endif

namespace kelvanor::testing {

// Root reads and writes through every file permission; Windows has no root.
bool RunningAsRoot();

}  // namespace kelvanor::testing
