#include "base/failure.hpp"

#include <cstring>

namespace bm {
namespace {

// The kind as failure reports name it.
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
    case FailureKind::Configuration:
      return "ConfiguracaoInvalida";
  }
  return "Falha";
}

}  // namespace

Failure::Failure(FailureKind kind, std::string message, Origin origin)
    : kind_(kind), message_(std::move(message)), origin_(origin) {}

void failSystem(const std::string& operation, int error, Origin origin) {
  throw Failure(FailureKind::System, operation + ": " + std::strerror(error), origin);
}

std::string visibleText(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  const auto escape = [&](unsigned char b) {
    out += "\\x";
    out += kHex[b >> 4];
    out += kHex[b & 0xf];
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (b < 0x20 || b == 0x7f) {
      escape(b);
    } else if (b == 0xc2 && next >= 0x80 && next <= 0x9f) {  // U+0080..U+009F in UTF-8
      escape(b);
      escape(next);
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string quotedText(std::string_view text) {
  std::string out = "'";
  out += visibleText(text);
  out += '\'';
  return out;
}

std::string failureReport(const Failure& failure) {
  const Origin& at = failure.origin();
  return std::string("Falha não tratada: ") + kindName(failure.kind()) + ": " +
         visibleText(failure.message()) + "\n  em " + at.function + " (" + at.file + ":" +
         std::to_string(at.line) + ")\n";
}

}  // namespace bm
