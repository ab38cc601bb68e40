#include "catalogue/file_names.hpp"

#include <functional>

#include "base/failure.hpp"
#include "catalogue/unicode_name.hpp"

namespace bm {

BackupEntry nameFieldsEntry(std::string_view name, Origin origin) {
  const std::size_t firstDot = name.find('.');
  const std::size_t secondDot =
      firstDot == std::string_view::npos ? firstDot : name.find('.', firstDot + 1);
  if (secondDot == std::string_view::npos) {
    throw Failure(FailureKind::BadName,
                  "o nome " + quotedName(name) + " não tem três campos separados por '.'", origin);
  }
  const std::size_t hostEnd = name.find('.', secondDot + 1);
  const std::string_view date = name.substr(0, firstDot);
  const std::string_view host = name.substr(secondDot + 1, hostEnd - (secondDot + 1));
  BackupEntry entry;
  entry.nomeHost = trimmedUpper(host);
  entry.dataHost = trimmedUpper(date);
  entry.nameShape = std::hash<std::string_view>()(name.substr(firstDot)) | 1;
  return entry;
}

std::string hostFromWholeName(std::string_view name) { return trimmedUpper(name); }

void hostFromWholeName(std::string_view name, std::string& out) { trimmedUpper(name, out); }

std::string quotedName(std::string_view name) { return quotedText(name); }

}  // namespace bm
