#include "reports/debug_header.hpp"

#include <string>

#include "base/console.hpp"
#include "base/version.hpp"

namespace bm {
namespace {

// The terminal colours of the header, written as they are, whatever the output is connected to.
constexpr const char* GREEN = "\x1b[0;32m";
constexpr const char* RESET = "\x1b[0;0m";

}  // namespace

void printDebugHeader() {
  console::line("Modo DEBUG ativado:");
  // One line whose text begins with a line break: the colour switch stands alone on the screen.
  console::line(std::string(GREEN) + "\nVersão do script: " + VERSION + RESET);
}

}  // namespace bm
