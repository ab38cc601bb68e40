#include "catalogue/backup_content.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/failure.hpp"
#include "base/fd.hpp"

namespace bm {
namespace {

// Large enough that the hash, not the system calls, sets the pace.
constexpr std::size_t kBufferSize = std::size_t{256} * 1024;

struct DigestFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Digest = std::unique_ptr<EVP_MD_CTX, DigestFree>;

std::string hexText(const unsigned char* bytes, unsigned int size) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(std::size_t{2} * size);
  for (unsigned int i = 0; i < size; ++i) {
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0xf];
  }
  return text;
}

BackupContent unreadable(std::uint64_t bytes, std::string why) {
  return {bytes, "", std::move(why)};
}

BackupContent notRegular() { return unreadable(0, "não é um arquivo regular"); }

Digest newDigest() {
  Digest digest(EVP_MD_CTX_new());
  if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1) {
    throw Failure(FailureKind::System, "EVP_DigestInit_ex: SHA-256 indisponível");
  }
  return digest;
}

}  // namespace

BackupContentReader::BackupContentReader(const LastLinePattern* lastLine, Checks checks)
    : buffer_(kBufferSize) {
  if (checks == Checks::Completeness) check_ = std::make_unique<CompletenessCheck>(lastLine);
}

BackupContent BackupContentReader::read(const std::string& path) {
  // The type first: opening a device may rewind a tape or wait on a terminal. A status that
  // cannot be read leaves the reason to the opening below.
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) return notRegular();
  // Without blocking: a FIFO put in the file's place meanwhile must not wait for a writer. Reads
  // of a regular file never wait on O_NONBLOCK's account.
  const Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.get() < 0) return unreadable(0, std::string("open: ") + std::strerror(errno));
  if (::fstat(file.get(), &status) != 0) {
    return unreadable(0, std::string("fstat: ") + std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) return notRegular();
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const struct timespec modified = status.st_mtim;
  if (size > kMostBytes) {
    return unreadable(0, std::to_string(size) + " bytes, mais que o limite de " +
                             std::to_string(kMostBytes) + " bytes lidos por backup");
  }
  ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  const Digest digest = newDigest();
  if (check_) check_->start();
  std::uint64_t bytes = 0;
  // Past the size it had when opened, the file is no longer the one measured: no need to read on.
  while (bytes <= size) {
    const ssize_t n = ::read(file.get(), buffer_.data(), buffer_.size());
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return unreadable(bytes, std::string("read: ") + std::strerror(errno));
    EVP_DigestUpdate(digest.get(), buffer_.data(), static_cast<std::size_t>(n));
    if (check_) check_->feed(buffer_.data(), static_cast<std::size_t>(n));
    bytes += static_cast<std::uint64_t>(n);
  }
  if (bytes == size && ::fstat(file.get(), &status) != 0) {
    return unreadable(bytes, std::string("fstat: ") + std::strerror(errno));
  }
  // A writer may have moved the end away and back between two looks: its time tells.
  if (bytes != size || static_cast<std::uint64_t>(status.st_size) != size ||
      status.st_mtim.tv_sec != modified.tv_sec || status.st_mtim.tv_nsec != modified.tv_nsec) {
    return unreadable(
        bytes, "o arquivo mudou durante a leitura: " + std::to_string(size) + " bytes ao abrir");
  }
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int hashSize = 0;
  EVP_DigestFinal_ex(digest.get(), hash, &hashSize);
  return {bytes, hexText(hash, hashSize), "", check_ ? check_->finish() : Completeness()};
}

}  // namespace bm
