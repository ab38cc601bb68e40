#include "reports/debug_listing.hpp"

#include <string>

#include "base/console.hpp"
#include "base/style.hpp"

namespace bm {

void printDebugHeader() {
  console::line("Modo DEBUG ativado:");
  // One line whose text begins with a line break: the colour switch stands alone on the screen.
  console::line(std::string(GREEN) + "\nVersão do script: " + VERSION + RESET);
}

}  // namespace bm
