#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace bm {

// What went wrong, as the failure report names it.
enum class FailureKind {
  MissingArgument,  // a position of the argument list that does not exist
  UnsetValue,       // a command-line value read although the mode came alone
  System,           // a system call refused
  BadName,          // a backup file name without the expected fields
  BadDate,          // a backup date that is not a calendar day
  Delivery,         // a send to Zabbix that did not complete
  Configuration,    // a setting from the environment that cannot be used
};

// Where a failure arose: the call site of whatever takes an Origin as its last parameter,
// defaulted to Origin::here(). Function names appear in failure reports ("em lerArgumentos
// (src/cli/arguments.cpp:23)"), so renaming a function that fails changes the program's output.
// (std::source_location would do, but clang 14 cannot build it over libstdc++ 12, and g++ 12's
// function_name() is the whole signature, where reports show the bare name.)
struct Origin {
  const char* function;
  const char* file;
  int line;

  static constexpr Origin here(const char* function = __builtin_FUNCTION(),
                               const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    return {function, file, line};
  }
};

// The one failure type of the program. It rises to main, which writes the failure report.
class Failure : public std::exception {
 public:
  Failure(FailureKind kind, std::string message, Origin origin = Origin::here());

  FailureKind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  const Origin& origin() const { return origin_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  FailureKind kind_;
  std::string message_;
  Origin origin_;
};

// "operation: strerror(error)", the message of a refused system call.
[[noreturn]] void failSystem(const std::string& operation, int error,
                             Origin origin = Origin::here());

// Text from outside written so that it can neither forge lines nor drive the terminal: each byte
// of a character that could, as \xNN, everything else unchanged. Always the C1 controls, U+2028,
// U+2029 and the bidi controls; of ASCII, every control (AllControls) or only BEL, LF, VT, FF, CR
// and ESC (TerminalOnly), where tabs and other controls have always been shown as they are.
enum class Escapes { AllControls, TerminalOnly };
std::string escapedText(std::string_view text, Escapes escapes);

// One byte as escapedText writes it: \xNN, lower-case.
void appendByteEscape(std::string& out, unsigned char byte);

// A file name, a path, an argument as failure reports show it: escapedText's AllControls.
std::string visibleText(std::string_view text);
// A host name as the debug listings show it: escapedText's TerminalOnly.
std::string listedText(std::string_view text);
// visibleText between single quotes.
std::string quotedText(std::string_view text);

// The failure report: kind, message and origin, as main writes it on standard error. The message
// is shown through visibleText, whatever it quotes.
std::string failureReport(const Failure& failure);

}  // namespace bm
