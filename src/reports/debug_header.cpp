#include "reports/debug_header.hpp"

#include <algorithm>
#include <string>

#include "base/console.hpp"
#include "base/failure.hpp"
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

void writeListed(std::string_view name) {
  // Of printable ASCII, listedText escapes nothing.
  if (std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7f; })) {
    console::write(name);
  } else {
    console::write(listedText(name));
  }
}

}  // namespace bm
