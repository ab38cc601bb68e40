#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/failure.hpp"
#include "catalogue/backup_entry.hpp"

namespace bm {

// A name-field file name's fields, as views into the name.
struct NameFields {
  std::string_view date;
  std::string_view host;
  std::uint32_t shape;  // the name without its date, hashed: never 0
};

// Name-field scheme: the date is field 0 and the host field 2 of the name split at every "."
// (empty fields count). Fails with BadName when the name has fewer than three fields.
NameFields splitNameFields(std::string_view name, Origin origin = Origin::here());

// The same fields as an entry: the host and the date upper-cased and trimmed.
BackupEntry nameFieldsEntry(std::string_view name, Origin origin = Origin::here());

// Modification-time scheme: the whole name, extension included, is the host.
std::string hostFromWholeName(std::string_view name);

// A name as failure messages quote it: control bytes written as \xNN so that they cannot
// break the report's lines.
std::string quotedName(std::string_view name);

}  // namespace bm
