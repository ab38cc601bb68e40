#include "catalogue/backup_content.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/fd.hpp"
#include "catalogue/content_pool.hpp"
#include "reports/health.hpp"
#include "support/sha256.hpp"
#include "support/temp_dir.hpp"

namespace bm {
namespace {

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
    EXPECT_EQ(content.sha256, test::sha256Hex(bytes));
    EXPECT_EQ(content.error, "");
  }
  const BackupContent missing = reader.read(tmp / "missing");
  EXPECT_EQ(saudeJson(missing), R"({"bytes":0,"error":"open: No such file or directory"})");
  EXPECT_EQ(saudeJson({3, "", "a \"quoted\\\" word\n"}),
            R"({"bytes":3,"error":"a \"quoted\\\" word\n"})");
}

// A backup still being written while it is read is an error, not a size it never had; so is a
// file whose size says nothing of its content (the kernel's own).
TEST(BackupContent, AFileThatChangesSizeWhileReadIsAnError) {
  const test::TempDir tmp;
  const std::string path = tmp / "changing";
  std::ofstream(path, std::ios::binary) << std::string(64 << 20, 'a');
  // The writer moves the end to and fro until the read is over, whenever the read looks.
  std::atomic<bool> done = false;
  std::atomic<int> moves = 0;
  std::thread writer([&] {
    const Fd file(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    for (off_t size = 65 << 20; !done; size ^= (65 << 20) ^ (64 << 20), ++moves) {
      if (::ftruncate(file.get(), size) != 0) break;
    }
  });
  while (moves == 0) std::this_thread::yield();
  BackupContentReader reader;
  const BackupContent content = reader.read(path);
  done = true;
  writer.join();
  EXPECT_EQ(content.error.rfind("o arquivo mudou durante a leitura: ", 0), 0u) << content.error;
  EXPECT_EQ(content.sha256, "");
  const BackupContent kernels = reader.read("/proc/version");
  EXPECT_EQ(saudeJson(kernels),
            R"({"bytes":)" + std::to_string(contentOf("/proc/version").size()) +
                R"(,"error":"o arquivo mudou durante a leitura: 0 bytes ao abrir"})");
}

// Many readers, files of sizes that make them finish out of turn: every content comes back once,
// in the run's order, and a failure rises at its own file's turn, after every file before it.
TEST(ContentPool, HandsBackEveryContentInTheRunsOrder) {
  const test::TempDir tmp;
  constexpr std::size_t kFiles = 300;
  std::vector<std::string> bytes(kFiles);
  for (std::size_t i = 0; i < kFiles; ++i) {
    bytes[i].assign(i % 7 == 0 ? 300 * 1024 + i : i, static_cast<char>('a' + i % 26));
    std::ofstream(tmp / std::to_string(i), std::ios::binary) << bytes[i];
  }
  const auto pathOf = [&tmp](std::size_t i) { return tmp / std::to_string(i); };
  for (const unsigned readers : {1U, 2U, 5U}) {
    SCOPED_TRACE(readers);
    ContentPool pool(kFiles, pathOf, readers, nullptr);
    for (std::size_t i = 0; i < kFiles; ++i) {
      const auto [path, content] = pool.next();
      ASSERT_EQ(path, pathOf(i));
      ASSERT_EQ(content.sha256, test::sha256Hex(bytes[i]));
    }
  }
  ContentPool failing(
      kFiles,
      [&pathOf](std::size_t i) {
        if (i == 57) throw std::runtime_error("no path");
        return pathOf(i);
      },
      3, nullptr);
  for (std::size_t i = 0; i < 57; ++i) EXPECT_EQ(failing.next().first, pathOf(i));
  EXPECT_THROW(failing.next(), std::runtime_error);
  EXPECT_EQ(failing.next().first, pathOf(58));
  // Destroyed with files unread: the readers stop and are joined.
}

}  // namespace
}  // namespace bm
