#include "support/sha256.hpp"

#include <openssl/evp.h>

#include <cstdio>

namespace bm::test {

std::string sha256Hex(std::string_view bytes) {
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

}  // namespace bm::test
