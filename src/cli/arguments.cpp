#include "cli/arguments.hpp"

#include "base/failure.hpp"

namespace bm {
namespace {

const std::string& argumentAt(const std::vector<std::string>& arguments, std::size_t position,
                              Origin origin = Origin::here()) {
  if (position >= arguments.size()) {
    const std::size_t given = arguments.empty() ? 0 : arguments.size() - 1;
    throw Failure(FailureKind::MissingArgument,
                  "a posição " + std::to_string(position) + " não existe na lista de argumentos (" +
                      std::to_string(given) + " argumentos após o programa)",
                  origin);
  }
  return arguments[position];
}

}  // namespace

ProcessValues lerArgumentos(std::vector<std::string> arguments) {
  ProcessValues values;
  const std::size_t n = arguments.empty() ? 0 : arguments.size() - 1;
  if (n == 1) {
    values.mode = arguments[1];
  } else {
    values.mode = argumentAt(arguments, 1);
    values.caminho = argumentAt(arguments, 2);
    values.zabbix_server = argumentAt(arguments, 3);
    values.zabbix_host = argumentAt(arguments, n);
  }
  values.arguments = std::move(arguments);
  return values;
}

}  // namespace bm
