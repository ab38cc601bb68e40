#pragma once

#include <regex.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bm {

// Whether a backup holds all it should: what is wrong with it, and what could not be looked at.
struct Completeness {
  std::string incomplete;  // "zip cortado no diretório central"; empty when nothing is wrong
  std::string unchecked;   // "membro 'x' cifrado"; empty when every part was checked
};

// The expression a plain backup's last non-blank line must match (POSIX extended, searched in
// the line without its line ending and trailing blanks; ^ and $ anchor the whole line).
class LastLinePattern {
 public:
  // Fails (a configuration failure naming setting) when text is not a valid expression.
  LastLinePattern(const std::string& text, const std::string& setting);
  ~LastLinePattern();
  LastLinePattern(const LastLinePattern&) = delete;
  LastLinePattern& operator=(const LastLinePattern&) = delete;

  bool matches(const std::string& line) const;
  const std::string& setting() const { return setting_; }

 private:
  regex_t compiled_{};
  std::string setting_;
};

// The last non-blank line of a text seen a piece at a time, in memory of a fixed size: a line's
// first kKept bytes are kept, the rest only looked at.
class LastLineTracker {
 public:
  static constexpr std::size_t kKept = 4096;

  void reset();
  void feed(const char* data, std::size_t size);
  // The last non-blank line so far, without its line ending and trailing blanks.
  std::string last() const;

 private:
  void appendPartial(const char* data, std::size_t size);

  std::string complete_;  // the last non-blank line that ended
  std::string partial_;   // the line not ended yet
  bool partialBlank_ = true;
};

// zlib's inflate state and one output buffer, owned: made once per reader and reset for each
// stream. Inflated a piece at a time: the window, not the output, is what zlib needs kept.
class Inflater {
 public:
  struct Step {
    int result;            // zlib's: Z_OK, Z_STREAM_END, or a fault (isFault)
    std::size_t consumed;  // of the input
  };

  Inflater();
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Ready for a raw deflate stream (a zip member) or a gzip member.
  void resetRaw();
  void resetGzip();
  // Inflates data, handing each piece of output to take(bytes, size), which says whether to go
  // on; stops at the end of the stream, at a fault, or when take says so.
  template <typename Take>
  Step inflate(const unsigned char* data, std::size_t size, Take take);
  static bool isFault(int result) {
    return result == Z_DATA_ERROR || result == Z_NEED_DICT || result == Z_MEM_ERROR;
  }
  // zlib's words for the last fault.
  std::string reason() const { return stream_.msg != nullptr ? stream_.msg : ""; }

 private:
  z_stream stream_{};
  std::vector<unsigned char> output_;
};

template <typename Take>
Inflater::Step Inflater::inflate(const unsigned char* data, std::size_t size, Take take) {
  stream_.next_in = const_cast<unsigned char*>(data);  // zlib's interface, which never writes it
  stream_.avail_in = static_cast<uInt>(size);
  int result = Z_OK;
  bool more = true;
  do {
    stream_.next_out = output_.data();
    stream_.avail_out = static_cast<uInt>(output_.size());
    result = ::inflate(&stream_, Z_NO_FLUSH);
    more = take(output_.data(), output_.size() - stream_.avail_out);
  } while (more && result == Z_OK && (stream_.avail_out == 0 || stream_.avail_in > 0));
  return {result, size - stream_.avail_in};
}

class ZipCheck;

// Checks a backup's completeness from the same bytes that are hashed, as they are read: zip
// archives (each member's CRC-32 and sizes, the central directory present and agreeing with the
// members) and gzip files (each member's trailer), recognised by their first bytes; and, given a
// pattern, the last non-blank line of any other file or of a gzip's content. Memory is fixed;
// time is bounded by kMostExpanded bytes inflated per file. Nested archives are members like any
// other: their own content is not opened.
class CompletenessCheck {
 public:
  static constexpr std::uint64_t kMostExpanded = std::uint64_t{4} << 30;
  // What is said of a file that inflates past kMostExpanded.
  static std::string pastTheBound();

  explicit CompletenessCheck(const LastLinePattern* lastLine = nullptr);
  ~CompletenessCheck();
  CompletenessCheck(const CompletenessCheck&) = delete;
  CompletenessCheck& operator=(const CompletenessCheck&) = delete;

  // A new file.
  void start();
  void feed(const unsigned char* data, std::size_t size);
  // The verdict on the bytes fed since start: the file ended there.
  Completeness finish();

 private:
  enum class Kind { Unknown, Plain, Zip, Gzip };
  void recognise();
  void feedKnown(const unsigned char* data, std::size_t size);
  void feedGzip(const unsigned char* data, std::size_t size);
  std::size_t inflateGzip(const unsigned char* data, std::size_t size);
  void stopGzip(std::string incomplete, std::string unchecked);

  const LastLinePattern* lastLine_;
  Inflater inflater_;
  std::unique_ptr<ZipCheck> zip_;  // made anew for each archive
  LastLineTracker tracker_;
  Kind kind_ = Kind::Unknown;
  std::string head_;      // the first bytes, until they tell the kind
  bool stopped_ = false;  // the rest is not looked at
  bool betweenMembers_ = false;
  std::string nextMagic_;  // the first bytes after a member, until they tell another
  std::uint64_t expanded_ = 0;
  Completeness verdict_;
};

}  // namespace bm
