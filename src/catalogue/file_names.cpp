#include "catalogue/file_names.hpp"

#include <functional>

#include "base/failure.hpp"
#include "catalogue/unicode_name.hpp"

namespace bm {

NameFields splitNameFields(std::string_view name, Origin origin) {
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
  const std::uint64_t shape = std::hash<std::string_view>()(name.substr(firstDot));
  return {date, host, static_cast<std::uint32_t>(shape ^ (shape >> 32)) | 1};
}

BackupEntry nameFieldsEntry(std::string_view name, Origin origin) {
  const NameFields fields = splitNameFields(name, origin);
  BackupEntry entry;
  entry.nomeHost = trimmedUpper(fields.host);
  entry.dataHost = trimmedUpper(fields.date);
  entry.nameShape = fields.shape;
  return entry;
}

std::string hostFromWholeName(std::string_view name) { return trimmedUpper(name); }

std::string quotedName(std::string_view name) { return quotedText(name); }

}  // namespace bm
