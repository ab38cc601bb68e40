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

// Whether a character, by its first byte b and what follows, is written as \xNN: the C1
// controls (U+0085 among them), the line and paragraph separators, and the bidi controls that
// reorder what a terminal shows (U+202A..U+202E, U+2066..U+2069); then, of ASCII, every control
// for failure reports, and for listings only those that drive a terminal or break a line.
std::size_t escapedLength(unsigned char b, unsigned char next, unsigned char third,
                          Escapes escapes) {
  if (b == 0xc2 && next >= 0x80 && next <= 0x9f) return 2;
  if (b == 0xe2 && next == 0x80 && third >= 0xa8 && third <= 0xae) return 3;
  if (b == 0xe2 && next == 0x81 && third >= 0xa6 && third <= 0xa9) return 3;
  if (escapes == Escapes::AllControls) return b < 0x20 || b == 0x7f ? 1 : 0;
  return std::string_view("\x07\x0a\x0b\x0c\x0d\x1b").find(static_cast<char>(b)) !=
                 std::string_view::npos
             ? 1
             : 0;
}

}  // namespace

void appendByteEscape(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xf];
}

std::string escapedText(std::string_view text, Escapes escapes) {
  std::string out;
  out.reserve(text.size());
  const auto at = [&](std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
  };
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = escapedLength(at(i), at(i + 1), at(i + 2), escapes);
    if (length == 0) {
      out += text[i++];
      continue;
    }
    for (const std::size_t end = i + length; i < end; ++i) appendByteEscape(out, at(i));
  }
  return out;
}

Failure::Failure(FailureKind kind, std::string message, Origin origin)
    : kind_(kind), message_(std::move(message)), origin_(origin) {}

void failSystem(const std::string& operation, int error, Origin origin) {
  throw Failure(FailureKind::System, operation + ": " + std::strerror(error), origin);
}

std::string visibleText(std::string_view text) { return escapedText(text, Escapes::AllControls); }

std::string listedText(std::string_view text) { return escapedText(text, Escapes::TerminalOnly); }

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
