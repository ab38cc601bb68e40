#pragma once

#include <optional>
#include <string>

namespace bm::test {

// Settings of the whole process changed for one scope and put back however it ends, a failed
// assertion's early return included, so that the next test finds the process as it was.

// An environment variable set, or with nullopt removed; the C library reads TZ again each time.
class ScopedVariable {
 public:
  ScopedVariable(std::string name, const std::optional<std::string>& value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void set(const std::optional<std::string>& value) const;

  std::string name_;
  std::optional<std::string> before_;
};

// The C library's locale (LC_ALL) and ICU's default locale.
class ScopedLocale {
 public:
  ScopedLocale(const char* c, const char* icu);
  ~ScopedLocale();
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

 private:
  std::string cBefore_;
  std::string icuBefore_;
};

}  // namespace bm::test
