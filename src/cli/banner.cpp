#include "cli/banner.hpp"

#include "base/console.hpp"
#include "base/process_values.hpp"
#include "base/version.hpp"

namespace bm {

std::string versionLine(std::string_view programPath) {
  std::string line;
  for (std::size_t i = 0; i < programPath.size();) {
    if (programPath.substr(i, 2) == "./") {
      line += ' ';
      i += 2;
    } else {
      line += programPath[i++];
    }
  }
  return line + "  " + VERSION;
}

void get_version() {
  console::line(
      " Copyright (c) 2026 os autores do backup-monitor. Licenciado sob a Licença Apache, "
      "Versão 2.0.");
  const auto& arguments = argumentList();
  console::line(versionLine(arguments.empty() ? "" : arguments[0]));
  console::endProcess(0);
}

}  // namespace bm
