#include "base/process_values.hpp"

#include "base/failure.hpp"

namespace bm {
namespace {

ProcessValues& values() {
  static ProcessValues v;
  return v;
}

const std::string& valueOrFail(const std::optional<std::string>& value, const char* name,
                               const char* function, const char* file, int line) {
  if (!value) {
    throw Failure(FailureKind::UnsetValue,
                  std::string("o valor '") + name + "' não foi definido (o modo veio sozinho)",
                  function, file, line);
  }
  return *value;
}

}  // namespace

void setProcessValues(ProcessValues v) { values() = std::move(v); }

const std::vector<std::string>& argumentList() { return values().arguments; }

const std::string& mode() { return values().mode; }

const std::string& caminho(const char* function, const char* file, int line) {
  return valueOrFail(values().caminho, "caminho", function, file, line);
}

const std::string& zabbix_server(const char* function, const char* file, int line) {
  return valueOrFail(values().zabbix_server, "zabbix_server", function, file, line);
}

const std::string& zabbix_host(const char* function, const char* file, int line) {
  return valueOrFail(values().zabbix_host, "zabbix_host", function, file, line);
}

}  // namespace bm
