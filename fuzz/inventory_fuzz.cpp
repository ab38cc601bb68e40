// An inventory's text, whatever its bytes: either a clear refusal, or devices each named once, as
// the reports name hosts (trimmed and upper-cased already, without blanks or controls), and the
// document that names them all is one line of printable ASCII.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/failure.hpp"
#include "catalogue/inventory.hpp"
#include "catalogue/unicode_name.hpp"
#include "fuzz_check.hpp"
#include "reports/discovery_document.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  bm::Inventory inventory;
  try {
    inventory = bm::inventoryOf(text, "inventory");
  } catch (const bm::Failure& failure) {
    FUZZ_CHECK(failure.kind() == bm::FailureKind::Configuration);
    return 0;
  }
  FUZZ_CHECK(inventory.names.size() > 0);
  bm::InventoryGaps gaps;
  for (std::uint32_t id = 0; id < inventory.names.size(); ++id) {
    const std::string_view name = inventory.names[id];
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(bm::trimmedUpper(name) == name);
    FUZZ_CHECK(inventory.names.find(name) == id);
    gaps.missing.push_back(id);
  }
  for (const char c : bm::inventarioJson(inventory, gaps)) FUZZ_CHECK(c >= 0x20 && c < 0x7f);
  return 0;
}
