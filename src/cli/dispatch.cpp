#include "cli/dispatch.hpp"

#include "base/console.hpp"
#include "base/process_values.hpp"
#include "cli/banner.hpp"
#include "cli/launch.hpp"
#include "reports/collection.hpp"
#include "reports/discovery.hpp"
#include "reports/health.hpp"

namespace bm {

void dispatch(SystemLog& log) {
  const std::string& m = mode();
  if (m == "version") get_version();
  if (m == "descobertaBackups") descobertaBackups(caminho(), log);
  if (m == "coletarData") coletarData(caminho(), log);
  if (m == "coletarSaude") coletarSaude(caminho(), log);
  if (m.find("launch_") != std::string::npos) launch(m);
  // "ecnontrado" is misspelt on purpose: operators and their scripts match this line as it has
  // always been written.
  console::line("Modo de execução não ecnontrado.");
  console::endProcess(1);
}

}  // namespace bm
