#include "base/failure.hpp"

#include <cstring>

namespace bm {

Failure::Failure(FailureKind kind, std::string message, const char* function, const char* file,
                 int line)
    : kind_(kind), message_(std::move(message)), origin_{function, file, line} {}

void failSystem(const std::string& operation, int error, const char* function, const char* file,
                int line) {
  throw Failure(FailureKind::System, operation + ": " + std::strerror(error), function, file, line);
}

const char* kindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::MissingArgument:
      return "ArgumentoAusente";
    case FailureKind::UnsetValue:
      return "ValorNaoDefinido";
    case FailureKind::System:
      return "ErroDoSistema";
    case FailureKind::BadName:
      return "NomeInvalido";
    case FailureKind::BadDate:
      return "DataInvalida";
    case FailureKind::Delivery:
      return "FalhaDeEntrega";
  }
  return "Falha";
}

std::string failureReport(const Failure& failure) {
  const Origin& at = failure.origin();
  return std::string("Falha não tratada: ") + kindName(failure.kind()) + ": " + failure.message() +
         "\n  em " + at.function + " (" + at.file + ":" + std::to_string(at.line) + ")\n";
}

}  // namespace bm
