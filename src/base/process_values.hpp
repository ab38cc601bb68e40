#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/failure.hpp"

namespace bm {

// The command line as the program keeps it for the whole run: the argument list and the four
// values read from it at start-up. The last three stay unset when the mode came alone.
struct ProcessValues {
  std::vector<std::string> arguments;
  std::string mode;
  std::optional<std::string> caminho;
  std::optional<std::string> zabbix_server;
  std::optional<std::string> zabbix_host;
};

// Set once, at start-up, before any mode runs.
void setProcessValues(ProcessValues values);

const std::vector<std::string>& argumentList();
const std::string& mode();
// These fail with UnsetValue when the mode came alone.
const std::string& caminho(Origin origin = Origin::here());
const std::string& zabbix_server(Origin origin = Origin::here());
const std::string& zabbix_host(Origin origin = Origin::here());

}  // namespace bm
