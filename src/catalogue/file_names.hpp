#pragma once

#include <string>
#include <string_view>

#include "base/failure.hpp"
#include "catalogue/backup_entry.hpp"

namespace bm {

// Name-field scheme: the date is field 0 and the host field 2 of the name split at every "."
// (empty fields count). Fails with BadName when the name has fewer than three fields.
BackupEntry nameFieldsEntry(std::string_view name, Origin origin = Origin::here());

// Modification-time scheme: the whole name, extension included, is the host.
std::string hostFromWholeName(std::string_view name);
// The same into out, whose room is kept: a scan makes one host after another without allocating.
void hostFromWholeName(std::string_view name, std::string& out);

// A name as failure messages quote it: control bytes written as \xNN so that they cannot
// break the report's lines.
std::string quotedName(std::string_view name);

}  // namespace bm
