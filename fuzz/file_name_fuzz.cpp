// File name to entry, on arbitrary bytes: well-formed UTF-8 out, nothing trimmable left at
// either end, a failure exactly when the name has fewer than three fields.
#include <unicode/uchar.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "base/failure.hpp"
#include "catalogue/file_names.hpp"
#include "catalogue/unicode_name.hpp"
#include "fuzz_check.hpp"

namespace {

bool trimmable(char32_t c) {
  return (c >= 0x1C && c <= 0x1F) || u_isUWhiteSpace(static_cast<UChar32>(c));
}

void checkShown(const std::string& shown) {
  FUZZ_CHECK(fuzz::isWellFormedUtf8(shown));
  if (shown.empty()) return;
  std::size_t i = 0;
  FUZZ_CHECK(!trimmable(bm::utf8::next(shown, i)));
  std::size_t last = shown.size() - 1;
  while (last > 0 && (static_cast<unsigned char>(shown[last]) & 0xC0) == 0x80) --last;
  FUZZ_CHECK(!trimmable(bm::utf8::next(shown, last)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  checkShown(bm::trimmedUpper(name));
  checkShown(bm::hostFromWholeName(name));
  const bool enoughFields = std::count(name.begin(), name.end(), '.') >= 2;
  try {
    const bm::BackupEntry entry = bm::nameFieldsEntry(name);
    FUZZ_CHECK(enoughFields);
    checkShown(entry.nomeHost);
    checkShown(entry.dataHost);
  } catch (const bm::Failure& failure) {
    FUZZ_CHECK(!enoughFields && failure.kind() == bm::FailureKind::BadName);
  }
  return 0;
}
