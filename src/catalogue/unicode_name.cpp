#include "catalogue/unicode_name.hpp"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "base/failure.hpp"
#include "base/utf8.hpp"

namespace bm {
namespace {

bool isTrimmedAscii(char c) { return c == ' ' || (c >= 9 && c <= 13) || (c >= 28 && c <= 31); }

bool isTrimmed(char32_t c) {
  return (c >= 0x1C && c <= 0x1F) || u_isUWhiteSpace(static_cast<UChar32>(c));
}

// Plain ASCII needs no tables: the same trim, and a-z to A-Z is the whole mapping.
void asciiTrimmedUpper(std::string_view raw, std::string& out) {
  std::size_t begin = 0;
  std::size_t end = raw.size();
  while (begin < end && isTrimmedAscii(raw[begin])) ++begin;
  while (end > begin && isTrimmedAscii(raw[end - 1])) --end;
  out.assign(raw.substr(begin, end - begin));
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

std::u32string decodeTrimmed(std::string_view raw) {
  std::u32string cps;
  cps.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size();) cps += utf8::next(raw, i);
  std::size_t begin = 0;
  std::size_t end = cps.size();
  while (begin < end && isTrimmed(cps[begin])) ++begin;
  while (end > begin && isTrimmed(cps[end - 1])) --end;
  return cps.substr(begin, end - begin);
}

std::u16string toUtf16(const std::u32string& cps) {
  std::u16string out;
  out.reserve(cps.size() * 2);
  for (char32_t c : cps) {
    if (c >= 0x10000) {
      out += static_cast<char16_t>(U16_LEAD(c));
      out += static_cast<char16_t>(U16_TRAIL(c));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::u16string upperRoot(const std::u16string& text) {
  // The full mapping can grow a text ("ß" -> "SS"); ask again with the size ICU needs.
  std::u16string out(text.size() * 3 + 1, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_strToUpper(out.data(), static_cast<int32_t>(out.size()), text.data(),
                                        static_cast<int32_t>(text.size()), "", &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<std::size_t>(length) + 1, u'\0');
      continue;
    }
    if (U_FAILURE(status)) {
      throw Failure(FailureKind::System, std::string("u_strToUpper: ") + u_errorName(status));
    }
    out.resize(static_cast<std::size_t>(length));
    return out;
  }
  throw Failure(FailureKind::System, "u_strToUpper: U_BUFFER_OVERFLOW_ERROR");
}

std::string toUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size();) {
    UChar32 c;
    U16_NEXT(text.data(), i, text.size(), c);
    utf8::append(out, static_cast<char32_t>(c));
  }
  return out;
}

}  // namespace

void trimmedUpper(std::string_view raw, std::string& out) {
  if (utf8::isAscii(raw)) {
    asciiTrimmedUpper(raw, out);
  } else {
    out = toUtf8(upperRoot(toUtf16(decodeTrimmed(raw))));
  }
}

std::string trimmedUpper(std::string_view raw) {
  std::string out;
  trimmedUpper(raw, out);
  return out;
}

}  // namespace bm
