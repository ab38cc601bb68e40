#include "support/scoped.hpp"

#include <unicode/uloc.h>

#include <clocale>
#include <cstdlib>
#include <ctime>

namespace bm::test {

ScopedVariable::ScopedVariable(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* before = std::getenv(name_.c_str())) before_ = before;
  set(value);
}

ScopedVariable::~ScopedVariable() { set(before_); }

void ScopedVariable::set(const std::optional<std::string>& value) const {
  if (value) {
    ::setenv(name_.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
  if (name_ == "TZ") ::tzset();
}

ScopedLocale::ScopedLocale(const char* c, const char* icu)
    : cBefore_(std::setlocale(LC_ALL, nullptr)), icuBefore_(uloc_getDefault()) {
  std::setlocale(LC_ALL, c);  // may be missing here: the C library then keeps its own
  UErrorCode status = U_ZERO_ERROR;
  uloc_setDefault(icu, &status);
}

ScopedLocale::~ScopedLocale() {
  std::setlocale(LC_ALL, cBefore_.c_str());
  UErrorCode status = U_ZERO_ERROR;
  uloc_setDefault(icuBefore_.c_str(), &status);
}

}  // namespace bm::test
