// The reply's JSON, checked and read in one pass without building a document: a reply may be as
// large as the size cap, and hostile ("[[[[...", a 16 MiB string), while only one member matters.
#include "zabbix/reply_json.hpp"

#include <string_view>
#include <utility>
#include <vector>

#include "base/number_text.hpp"
#include "base/utf8.hpp"
#include "zabbix/decoded_string.hpp"

namespace bm {
namespace {

class ReplyJson {
 public:
  explicit ReplyJson(std::string_view text) : text_(text) {}
  Reply read();

 private:
  bool value();
  bool afterValue(bool& done);
  bool member();
  bool string(DecodedString* match);
  bool escape(DecodedString* match);
  bool hex4(char32_t& out);
  bool utf8Sequence();
  bool number();
  bool literal(std::string_view word);
  void blanks();
  bool at(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
  unsigned char byte(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? static_cast<unsigned char>(text_[pos_ + ahead]) : 0;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::vector<bool> open_;  // the containers around pos_: true for an object
  bool opened_ = false;     // value() has just opened a container
  // The member whose value is now read, if it is one of those kept: "response", "info" and
  // "redirect" at the top, "address" inside that "redirect".
  enum class Member { Other, Response, Info, Redirect, Address } member_ = Member::Other;
  bool responseIsSuccess_ = false;
  std::string info_;
  bool inRedirect_ = false;  // inside the top-level "redirect" object
  std::string redirect_;
};

Reply ReplyJson::read() {
  if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  blanks();
  const bool topIsObject = at('{');
  for (bool done = false; !done;) {
    if (!value()) return {};
    if (std::exchange(opened_, false)) continue;  // its first member or element comes next
    if (!afterValue(done)) return {};
  }
  blanks();
  // A NUL byte after the value ends the text, as it did for the document parser before.
  const bool ended = pos_ == text_.size() || text_[pos_] == '\0';
  if (!ended || !topIsObject) return {};
  return {responseIsSuccess_, std::move(info_), std::move(redirect_)};
}

// One value; or the opening of a container that is not empty, up to its first value.
bool ReplyJson::value() {
  blanks();
  const Member reading = std::exchange(member_, Member::Other);
  if (reading == Member::Response) responseIsSuccess_ = false;
  if (reading == Member::Info) info_.clear();
  if (reading == Member::Redirect || reading == Member::Address) redirect_.clear();
  switch (byte()) {
    case '{':
    case '[': {
      const bool object = byte() == '{';
      ++pos_;
      blanks();
      if (at(object ? '}' : ']')) {
        ++pos_;
        return true;
      }
      open_.push_back(object);
      opened_ = true;
      if (reading == Member::Redirect && object) inRedirect_ = true;
      return !object || member();
    }
    case '"': {
      DecodedString text(reading == Member::Info      ? kInfoLimit
                         : reading == Member::Address ? kAddressLimit
                                                      : 8);
      if (!string(&text)) return false;
      if (reading == Member::Response) responseIsSuccess_ = text.is("success");
      if (reading == Member::Info) info_ = text.take();
      if (reading == Member::Address && text.whole()) redirect_ = text.take();
      return true;
    }
    case 't':
      return literal("true");
    case 'f':
      return literal("false");
    case 'n':
      return literal("null");
    default:
      return number();
  }
}

// After a value: closes the containers that end here, then steps past a ',' to the next member
// or element. done once the outermost value has closed.
bool ReplyJson::afterValue(bool& done) {
  for (;;) {
    blanks();
    if (open_.empty()) {
      done = true;
      return true;
    }
    const bool object = open_.back();
    if (at(object ? '}' : ']')) {
      ++pos_;
      open_.pop_back();
      if (open_.size() == 1) inRedirect_ = false;
      continue;
    }
    if (!at(',')) return false;
    ++pos_;
    blanks();
    return !object || member();
  }
}

// A member's name and colon; the value follows.
bool ReplyJson::member() {
  if (!at('"')) return false;
  DecodedString name(8);
  if (!string(&name)) return false;
  blanks();
  if (!at(':')) return false;
  ++pos_;
  if (open_.size() == 1 && name.is("response")) member_ = Member::Response;
  if (open_.size() == 1 && name.is("info")) member_ = Member::Info;
  if (open_.size() == 1 && name.is("redirect")) member_ = Member::Redirect;
  if (open_.size() == 2 && inRedirect_ && name.is("address")) member_ = Member::Address;
  return true;
}

bool ReplyJson::string(DecodedString* match) {
  ++pos_;  // the opening quote
  for (;;) {
    const unsigned char c = byte();
    if (pos_ >= text_.size() || c < 0x20) return false;
    if (c == '"') {
      ++pos_;
      return true;
    }
    if (c == '\\') {
      if (!escape(match)) return false;
    } else if (c < 0x80) {
      match->feed(c);
      ++pos_;
    } else {
      const std::size_t start = pos_;
      if (!utf8Sequence()) return false;
      match->feedCharacter(text_.substr(start, pos_ - start));
    }
  }
}

bool ReplyJson::escape(DecodedString* match) {
  const unsigned char e = byte(1);
  pos_ += 2;
  switch (e) {
    case '"':
    case '\\':
    case '/':
      match->feed(e);
      return true;
    case 'b':
      match->feed('\b');
      return true;
    case 'f':
      match->feed('\f');
      return true;
    case 'n':
      match->feed('\n');
      return true;
    case 'r':
      match->feed('\r');
      return true;
    case 't':
      match->feed('\t');
      return true;
    case 'u':
      break;
    default:
      return false;
  }
  char32_t unit = 0;
  if (!hex4(unit)) return false;
  if (unit >= 0xDC00 && unit <= 0xDFFF) return false;  // a low surrogate alone
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    char32_t low = 0;
    if (byte() != '\\' || byte(1) != 'u') return false;
    pos_ += 2;
    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }
  match->feedCodePoint(unit);
  return true;
}

bool ReplyJson::hex4(char32_t& out) {
  for (int i = 0; i < 4; ++i, ++pos_) {
    const int digit = pos_ < text_.size() ? hexDigitValue(text_[pos_]) : -1;
    if (digit < 0) return false;
    out = (out << 4) | static_cast<char32_t>(digit);
  }
  return true;
}

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF. The
// lead byte is not ASCII, so a well-formed character is at least two bytes; the decoder moves one
// byte past anything else.
bool ReplyJson::utf8Sequence() {
  const std::size_t start = pos_;
  utf8::next(text_, pos_);
  return pos_ - start > 1;
}

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool ReplyJson::number() {
  const auto isDigit = [this] { return byte() >= '0' && byte() <= '9'; };
  const auto digits = [&] {
    if (pos_ >= text_.size() || !isDigit()) return false;
    while (pos_ < text_.size() && isDigit()) ++pos_;
    return true;
  };
  if (at('-')) ++pos_;
  if (at('0')) {
    ++pos_;
  } else if (!digits()) {
    return false;
  }
  if (at('.')) {
    ++pos_;
    if (!digits()) return false;
  }
  if (at('e') || at('E')) {
    ++pos_;
    if (at('+') || at('-')) ++pos_;
    if (!digits()) return false;
  }
  return true;
}

bool ReplyJson::literal(std::string_view word) {
  if (text_.substr(pos_, word.size()) != word) return false;
  pos_ += word.size();
  return true;
}

void ReplyJson::blanks() {
  while (at(' ') || at('\t') || at('\n') || at('\r')) ++pos_;
}

}  // namespace

Reply readReply(std::string_view body) { return ReplyJson(body).read(); }

bool isSuccess(std::string_view body) { return readReply(body).success; }

}  // namespace bm
