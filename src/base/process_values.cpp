#include "base/process_values.hpp"

#include "base/failure.hpp"

namespace bm {
namespace {

// Process-wide because they are the process's own: the command line, read once before any mode
// runs and the same for every part of the run, which reads them where the specified names say.
ProcessValues& values() {
  static ProcessValues v;
  return v;
}

const std::string& valueOrFail(const std::optional<std::string>& value, const char* name,
                               Origin origin) {
  if (!value) {
    throw Failure(FailureKind::UnsetValue,
                  std::string("o valor '") + name + "' não foi definido (o modo veio sozinho)",
                  origin);
  }
  return *value;
}

}  // namespace

void setProcessValues(ProcessValues v) { values() = std::move(v); }

const std::vector<std::string>& argumentList() { return values().arguments; }

const std::string& mode() { return values().mode; }

const std::string& caminho(Origin origin) {
  return valueOrFail(values().caminho, "caminho", origin);
}

const std::string& zabbix_server(Origin origin) {
  return valueOrFail(values().zabbix_server, "zabbix_server", origin);
}

const std::string& zabbix_host(Origin origin) {
  return valueOrFail(values().zabbix_host, "zabbix_host", origin);
}

}  // namespace bm
