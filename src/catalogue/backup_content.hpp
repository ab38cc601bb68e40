#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/completeness.hpp"

namespace bm {

// What a backup file's content says: how many bytes it holds and their SHA-256, or why it could
// not be read.
struct BackupContent {
  BackupContent() = default;
  BackupContent(std::uint64_t bytesRead, std::string hash, std::string why,
                Completeness verdict = Completeness())
      : bytes(bytesRead),
        sha256(std::move(hash)),
        error(std::move(why)),
        completeness(std::move(verdict)) {}

  std::uint64_t bytes = 0;    // the bytes read (and hashed), up to an error if one came
  std::string sha256;         // lower-case hex; empty when the content could not be read
  std::string error;          // why not ("não é um arquivo regular", "open: Permission denied")
  Completeness completeness;  // what is missing from a content read whole
};

// Reads backup files whole, each once, through one buffer of a fixed size: a file of any size
// costs the same memory. Never fails: a file that cannot be read gives its reason instead.
class BackupContentReader {
 public:
  // The most bytes read of one file: a configuration backup is far smaller, and a sparse file of
  // terabytes would otherwise take hours. Some 3 s of hashing on one core.
  static constexpr std::uint64_t kMostBytes = std::uint64_t{4} << 30;

  // Checks each file's completeness as it is read (archives always; the last line given a
  // pattern), or, with Checks::None, only hashes it.
  enum class Checks { Completeness, None };
  explicit BackupContentReader(const LastLinePattern* lastLine = nullptr,
                               Checks checks = Checks::Completeness);
  // The content of path. Only regular files are read: a FIFO, a device or a directory, or a link
  // to one, is refused before it is opened. A file of more than kMostBytes is refused unread, and
  // one that changes while it is read (its size or its time) is an error, not a size it never had.
  BackupContent read(const std::string& path);

 private:
  std::vector<unsigned char> buffer_;
  std::unique_ptr<CompletenessCheck> check_;
};

}  // namespace bm
