#include "zabbix/tls_settings.hpp"

#include "base/utf8.hpp"

namespace bm {
namespace {

constexpr std::size_t kMaxIdentity = 128;

bool validUtf8(std::string_view text) {
  std::string again;
  for (std::size_t i = 0; i < text.size();) utf8::append(again, utf8::next(text, i));
  return again == text;
}

struct Variable {
  const char* name;
  std::string TlsSettings::*field;
  TlsSettings::Mode mode;  // the only mode that uses it
  bool required;           // by that mode
};

constexpr Variable kVariables[] = {
    {"ZBX_TLSPSKIDENTITY", &TlsSettings::pskIdentity, TlsSettings::Mode::Psk, true},
    {"ZBX_TLSPSKFILE", &TlsSettings::pskFile, TlsSettings::Mode::Psk, true},
    {"ZBX_TLSCAFILE", &TlsSettings::caFile, TlsSettings::Mode::Certificate, true},
    {"ZBX_TLSCRLFILE", &TlsSettings::crlFile, TlsSettings::Mode::Certificate, false},
    {"ZBX_TLSCERTFILE", &TlsSettings::certFile, TlsSettings::Mode::Certificate, true},
    {"ZBX_TLSKEYFILE", &TlsSettings::keyFile, TlsSettings::Mode::Certificate, true},
    {"ZBX_TLSSERVERCERTISSUER", &TlsSettings::serverIssuer, TlsSettings::Mode::Certificate, false},
    {"ZBX_TLSSERVERCERTSUBJECT", &TlsSettings::serverSubject, TlsSettings::Mode::Certificate,
     false},
};

const char* modeName(TlsSettings::Mode mode) {
  return mode == TlsSettings::Mode::Psk ? "psk" : "cert";
}

TlsSettings::Mode readMode(const std::string& text) {
  if (text.empty() || text == "unencrypted") return TlsSettings::Mode::Unencrypted;
  if (text == "psk") return TlsSettings::Mode::Psk;
  if (text == "cert") return TlsSettings::Mode::Certificate;
  misconfigured("ZBX_TLSCONNECT",
                "valor " + quotedText(text) + " desconhecido; use unencrypted, psk ou cert");
}

}  // namespace

void misconfigured(const std::string& variable, const std::string& problem, Origin origin) {
  throw Failure(FailureKind::Configuration, variable + ": " + problem, origin);
}

TlsSettings readTlsSettings(const std::function<const char*(const char*)>& lookup) {
  const auto value = [&](const char* name) {
    const char* text = lookup(name);
    return std::string(text != nullptr ? text : "");
  };
  TlsSettings settings;
  settings.mode = readMode(value("ZBX_TLSCONNECT"));
  // Inside a Zabbix agent's container, whose UserParameter commands inherit its environment, the
  // keys may be there for the connections that agent accepts (ZBX_TLSACCEPT), not for ours.
  const bool agentsOwn = !value("ZBX_TLSACCEPT").empty();
  for (const Variable& variable : kVariables) {
    std::string text = value(variable.name);
    if (!text.empty() && settings.mode != variable.mode && !agentsOwn) {
      misconfigured(variable.name,
                    std::string("definida, mas ZBX_TLSCONNECT não é ") + modeName(variable.mode));
    }
    if (text.empty() && settings.mode == variable.mode && variable.required) {
      misconfigured(variable.name,
                    std::string("obrigatória com ZBX_TLSCONNECT=") + modeName(variable.mode));
    }
    settings.*variable.field = std::move(text);
  }
  if (settings.pskIdentity.size() > kMaxIdentity) {
    misconfigured("ZBX_TLSPSKIDENTITY", "mais de " + std::to_string(kMaxIdentity) + " bytes");
  }
  if (!validUtf8(settings.pskIdentity)) misconfigured("ZBX_TLSPSKIDENTITY", "não é UTF-8 válido");
  return settings;
}

}  // namespace bm
