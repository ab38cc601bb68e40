// The reply reader on arbitrary bytes cut into pieces of arbitrary sizes: the same outcome
// however the bytes arrive, and never more than the size cap held.
#include <cstdint>
#include <string>

#include "base/failure.hpp"
#include "fuzz_check.hpp"
#include "zabbix/protocol.hpp"

namespace {

struct Outcome {
  bool complete = false;
  bool success = false;
  std::string failure;
  std::string body;
  bool operator==(const Outcome&) const = default;
};

Outcome read(std::string_view bytes, std::size_t piece) {
  Outcome outcome;
  bm::ReplyReader reader("fuzz:10052");
  try {
    for (std::size_t at = 0; at < bytes.size() && !outcome.complete; at += piece) {
      outcome.complete = reader.feed(bytes.substr(at, piece));
    }
    if (outcome.complete) {
      outcome.success = reader.success();
      outcome.body = reader.body();
      FUZZ_CHECK(outcome.body.size() <= bm::kMaxReplySize);
    }
  } catch (const bm::Failure& failure) {
    FUZZ_CHECK(failure.kind() == bm::FailureKind::Delivery);
    outcome.failure = failure.message();
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = data[0] % 32 + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  FUZZ_CHECK(read(bytes, piece) == read(bytes, bytes.size() + 1));
  return 0;
}
