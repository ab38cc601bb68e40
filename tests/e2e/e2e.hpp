#pragma once

#include <string>
#include <vector>

#include "base/version.hpp"
#include "support/run.hpp"
#include "support/temp_dir.hpp"

namespace bm::test {

inline constexpr const char* kBinary = BACKUP_MONITOR;
inline constexpr const char* kNotice =
    " Copyright (c) 2026 os autores do backup-monitor. Licenciado sob a Licença Apache, Versão "
    "2.0.\n";
inline const std::string kDebugHeader =
    std::string("Modo DEBUG ativado:\n\x1b[0;32m\nVersão do script: ") + VERSION + "\x1b[0;0m\n";

// Runs the built program with these arguments after position 0.
inline RunResult runAgent(const std::vector<std::string>& arguments, RunOptions options = {}) {
  std::vector<std::string> argv = {"backup-monitor"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  options.program = kBinary;
  return run(argv, options);
}

// Compares stdout, stderr (line numbers aside) and the status at once, so a failure shows all.
inline std::string describe(const RunResult& r) {
  return "status " + std::to_string(r.status) + "\n--- stdout\n" + r.out + "--- stderr\n" +
         withoutLineNumbers(r.err);
}

inline std::string expected(int status, const std::string& out, const std::string& err = "") {
  return "status " + std::to_string(status) + "\n--- stdout\n" + out + "--- stderr\n" + err;
}

inline std::string failureReport(const std::string& kind, const std::string& message,
                                 const std::string& function, const std::string& file) {
  return "Falha não tratada: " + kind + ": " + message + "\n  em " + function + " (" + file +
         ":N)\n";
}

}  // namespace bm::test
