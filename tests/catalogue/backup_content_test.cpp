#include "catalogue/backup_content.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/fd.hpp"
#include "reports/health.hpp"
#include "support/temp_dir.hpp"

namespace bm {
namespace {

std::string sha256Of(const std::string& bytes) {
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), hash, &size, EVP_sha256(), nullptr);
  std::string hex;
  char digit[3];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(digit, sizeof digit, "%02x", hash[i]);
    hex += digit;
  }
  return hex;
}

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Files of many buffers' worth, and one whose end falls on a buffer's: every byte hashed once.
TEST(BackupContent, HashesEveryByteOnceWhateverTheSize) {
  const test::TempDir tmp;
  BackupContentReader reader;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{256 * 1024},
                                 std::size_t{3 * 256 * 1024 + 17}}) {
    SCOPED_TRACE(size);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 % 251);
    std::ofstream(tmp / "backup", std::ios::binary) << bytes;
    const BackupContent content = reader.read(tmp / "backup");
    EXPECT_EQ(content.bytes, size);
    EXPECT_EQ(content.sha256, sha256Of(bytes));
    EXPECT_EQ(content.error, "");
  }
  const BackupContent missing = reader.read(tmp / "missing");
  EXPECT_EQ(saudeJson(missing), R"({"bytes":0,"error":"open: No such file or directory"})");
  EXPECT_EQ(saudeJson({3, "", "a \"quoted\\\" word\n"}),
            R"({"bytes":3,"error":"a \"quoted\\\" word\n"})");
}

// A backup still being written while it is read: the count and the hash describe the same bytes,
// the ones read, whatever the writer added meanwhile.
TEST(BackupContent, AFileThatGrowsWhileReadIsDescribedAsRead) {
  const test::TempDir tmp;
  const std::string path = tmp / "growing";
  std::ofstream(path, std::ios::binary) << std::string(4 << 20, 'a');
  std::atomic<bool> done = false;
  std::thread writer([&] {
    const Fd file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    const std::string more(4096, 'b');
    for (int i = 0; i < 4096 && !done; ++i) {
      if (::write(file.get(), more.data(), more.size()) < 0) break;
    }
  });
  BackupContentReader reader;
  const BackupContent content = reader.read(path);
  done = true;
  writer.join();
  EXPECT_GE(content.bytes, 4u << 20);
  EXPECT_EQ(content.sha256, sha256Of(contentOf(path).substr(0, content.bytes)));
}

}  // namespace
}  // namespace bm
