#pragma once

#include <functional>
#include <string>

#include "base/failure.hpp"

namespace bm {

// Encryption toward the server, chosen by the variables Zabbix's own container images use, so
// that cron lines, systemd units and launched children carry it alike.
struct TlsSettings {
  enum class Mode { Unencrypted, Psk, Certificate };
  Mode mode = Mode::Unencrypted;
  std::string pskIdentity;    // ZBX_TLSPSKIDENTITY
  std::string pskFile;        // ZBX_TLSPSKFILE
  std::string caFile;         // ZBX_TLSCAFILE
  std::string crlFile;        // ZBX_TLSCRLFILE
  std::string certFile;       // ZBX_TLSCERTFILE
  std::string keyFile;        // ZBX_TLSKEYFILE
  std::string serverIssuer;   // ZBX_TLSSERVERCERTISSUER
  std::string serverSubject;  // ZBX_TLSSERVERCERTSUBJECT
};

// Reads the ZBX_TLS* variables through lookup (getenv, in the program); an empty variable is an
// unset one. Fails with Configuration on an unknown mode, a variable the mode needs and lacks,
// and one it does not use (unless ZBX_TLSACCEPT says the environment is a Zabbix agent's): a
// key given without the mode that uses it would otherwise go unused while the server drops
// every plain value.
TlsSettings readTlsSettings(const std::function<const char*(const char*)>& lookup);

// Fails with Configuration: "VARIABLE: problem".
[[noreturn]] void misconfigured(const std::string& variable, const std::string& problem,
                                Origin origin = Origin::here());

}  // namespace bm
