#pragma once

#include <string_view>

namespace bm {

// The header both reports print in debug mode: "Modo DEBUG ativado:", then the version in green.
void printDebugHeader();

// Writes a host name as debug listings show it (listedText): most names are printable ASCII,
// written as they are without making a copy.
void writeListed(std::string_view name);

}  // namespace bm
