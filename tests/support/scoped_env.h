// Test support: sets or unsets one environment variable for a scope and puts
// the old state back afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace kelvanor::testing {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(name, value);
  }
  ~ScopedEnv() { Set(name_, old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  static void Set(const char* name, const char* value) {
#ifdef _WIN32
    // _putenv_s changes the process environment too; "" removes the entry.
    ::_putenv_s(name, value ? value : "");
#else
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
#endif
  }

  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace kelvanor::testing
