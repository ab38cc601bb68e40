#pragma once

#include <string>
#include <vector>

#include "base/process_values.hpp"

namespace bm {

// Reads the argument list (position 0 first) into the four values. With the mode alone the other
// three stay unset; otherwise mode, caminho and zabbix_server come from positions 1 to 3 and
// zabbix_host from the last position, and the first missing position fails with MissingArgument.
ProcessValues lerArgumentos(std::vector<std::string> arguments);

}  // namespace bm
