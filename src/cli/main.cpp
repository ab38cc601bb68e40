#include <cxxabi.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/process_values.hpp"
#include "base/system_log.hpp"
#include "cli/arguments.hpp"
#include "cli/dispatch.hpp"

namespace {

std::string typeName(const std::exception& e) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && name ? name.get() : typeid(e).name();
}

// A report's lines joined, for the system log.
std::string oneLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  for (std::size_t at; (at = text.find("\n  ")) != std::string::npos;) text.replace(at, 3, " ");
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  // A launched child keeps working after nobody reads its console: writes then fail with EPIPE,
  // which the console drops, instead of the signal ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  // The run's second channel, for its whole length; a report that delivers writes its summary
  // there as it ends, before a failure's report below.
  bm::SystemLog log;
  try {
    bm::setProcessValues(bm::lerArgumentos(std::vector<std::string>(argv, argv + argc)));
    bm::dispatch(log);
  } catch (const bm::console::ExitRequest& request) {
    bm::console::flush();
    return request.status;
  } catch (const bm::Failure& failure) {
    bm::console::error(bm::failureReport(failure));
    log.write(bm::SystemLog::Severity::Error, oneLine(bm::failureReport(failure)));
  } catch (const std::exception& e) {
    bm::console::error("Falha não tratada: " + typeName(e) + ": " + bm::visibleText(e.what()) +
                       "\n  em local desconhecido\n");
  }
  return EXIT_FAILURE;
}
