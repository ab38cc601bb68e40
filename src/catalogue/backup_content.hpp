#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bm {

// What a backup file's content says: how many bytes it holds and their SHA-256, or why it could
// not be read.
struct BackupContent {
  std::uint64_t bytes = 0;  // the bytes read (and hashed), up to an error if one came
  std::string sha256;       // lower-case hex; empty when the content could not be read
  std::string error;        // why not ("não é um arquivo regular", "open: Permission denied")
};

// Reads backup files whole, each once, through one buffer of a fixed size: a file of any size
// costs the same memory. Never fails: a file that cannot be read gives its reason instead.
class BackupContentReader {
 public:
  BackupContentReader();
  // The content of path. Only regular files are read; a FIFO, a device or a directory is refused
  // without waiting on it.
  BackupContent read(const std::string& path);

 private:
  std::vector<unsigned char> buffer_;
};

}  // namespace bm
