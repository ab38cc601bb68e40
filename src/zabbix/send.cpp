#include "zabbix/send.hpp"

#include "base/failure.hpp"

namespace bm {

void send_zabbix(const std::string&, const std::string&, const std::string&, const MetricValue&) {
  throw Failure(FailureKind::System, "entrega ao Zabbix ainda não disponível");
}

}  // namespace bm
