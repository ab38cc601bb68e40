#pragma once

namespace bm {

// The header both reports print in debug mode: "Modo DEBUG ativado:", then the version in green.
void printDebugHeader();

}  // namespace bm
