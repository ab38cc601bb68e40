#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/backup_entry.hpp"
#include "catalogue/inventory.hpp"
#include "catalogue/listing.hpp"

namespace bm {

// {"data": [{"{#NOME_HOST}": "...", "{#DATA_HOST}": "..."}, ...]} on one line of pure ASCII.
std::string descobertaJson(const std::vector<BackupEntry>& descoberta);

// The same document of a listing's chosen entries.
std::string descobertaJson(const Listing& listing, const std::vector<std::uint32_t>& chosen);

// What the inventory and the directory disagree on, in ASCII as the discovery document:
// {"esperados":E,"semBackup":M,"foraDoInventario":U,"data":[{"nome":"SW9","estado":1},...]}, the
// expected devices without any backup (state 1) in the inventory's order, then the devices with
// backups that were not expected (state 2). Devices in both are left out: the template takes a
// device missing from the list as one in order.
std::string inventarioJson(const Inventory& inventory, const InventoryGaps& gaps);

// A JSON string: \" \\ \n \r \t \b \f, \u00XX (lowercase) for every other character outside
// printable ASCII, surrogate pairs above U+FFFF, and U+FFFD for each undecodable byte.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace bm
