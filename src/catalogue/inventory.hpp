#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/listing.hpp"

namespace bm {

// The devices an operator expects backups of, each name as the reports write a host (trimmed and
// upper-cased), each once, in the file's order.
struct Inventory {
  std::string path;
  TextTable names;
};

// Reads an inventory file: a plain list (one device per line) or RANCID's router.db
// (name;type;state[;...], only devices whose state is "up" count), told apart by the form of its
// first device line. Blank lines and lines starting with "#" are skipped, as are a UTF-8 byte
// order mark and the carriage returns of a file written on Windows. Fails with Configuration,
// naming the file, when it cannot be read or holds no device, and naming the line too when a
// line is not understood: a name with blanks in it (two names on a line, a comment after one),
// control characters, a plain list's line with ";", a router.db line without three fields.
Inventory readInventory(const std::string& path);

// The same of a file's text already read; path only names it.
Inventory inventoryOf(std::string_view text, const std::string& path);

// The inventory named by BACKUP_MONITOR_INVENTORY; none when it is unset or empty.
std::optional<Inventory> environmentInventory();

// What a directory's devices and an inventory disagree on.
struct InventoryGaps {
  std::vector<std::uint32_t> missing;  // expected devices without any backup, in Inventory::names
  TextTable unlisted;                  // devices with backups that were not expected, in order
};

// The chosen entries of a listing held against an inventory.
InventoryGaps inventoryGaps(const Inventory& inventory, const Listing& listing,
                            const std::vector<std::uint32_t>& chosen);

}  // namespace bm
