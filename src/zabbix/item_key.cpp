#include "zabbix/item_key.hpp"

namespace bm {

std::string itemKeyParameter(std::string_view name) {
  const bool quoted = (!name.empty() && (name[0] == '"' || name[0] == ' ' || name[0] == '[')) ||
                      name.find_first_of(",]") != std::string_view::npos;
  if (!quoted) return std::string(name);
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace bm
