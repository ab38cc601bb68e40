#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "base/utf8.hpp"

namespace bm {

// A string as it is decoded: its first characters, up to a limit in bytes, and its whole length,
// so that a string of any size costs no more than the limit. A character that would cross the
// limit is left out whole, with all that follows: what is kept is always valid UTF-8.
class DecodedString {
 public:
  explicit DecodedString(std::size_t limit) : limit_(limit) {}
  void feed(unsigned char byte) {
    const char c = static_cast<char>(byte);
    feedCharacter(std::string_view(&c, 1));
  }
  void feedCharacter(std::string_view bytes) {
    if (!full_ && kept_.size() + bytes.size() <= limit_) {
      kept_ += bytes;
    } else {
      full_ = true;
    }
    length_ += bytes.size();
  }
  void feedCodePoint(char32_t c);
  bool is(std::string_view text) const { return length_ == kept_.size() && kept_ == text; }
  bool whole() const { return length_ == kept_.size(); }
  std::string&& take() { return std::move(kept_); }

 private:
  std::size_t limit_;
  std::string kept_;
  std::size_t length_ = 0;
  bool full_ = false;
};

inline void DecodedString::feedCodePoint(char32_t c) {
  std::string bytes;  // at most four: never leaves the small-string buffer
  utf8::append(bytes, c);
  feedCharacter(bytes);
}

}  // namespace bm
