#pragma once

#include <string>
#include <variant>

namespace bm {

// A value as a report hands it over: the discovery document, or an age in seconds.
using MetricValue = std::variant<std::string, double>;

// Delivers one value for one item to the server's port 10052, in up to five attempts.
void send_zabbix(const std::string& zabbix_server, const std::string& zabbix_host,
                 const std::string& key, const MetricValue& value);

}  // namespace bm
