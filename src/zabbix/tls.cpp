#include "zabbix/tls.hpp"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/failure.hpp"
#include "base/fd.hpp"
#include "base/number_text.hpp"
#include "zabbix/openssl_reason.hpp"

namespace bm {
namespace {

// Zabbix's own choices, which every Zabbix build accepts (TLS 1.3 keeps OpenSSL's suites).
constexpr const char* kPskCiphers = "kECDHEPSK+AES128:kPSK+AES128";
constexpr const char* kCertificateCiphers = "EECDH+aRSA+AES128:RSA+aRSA+AES128";
constexpr std::size_t kMinKeyDigits = 32;
constexpr std::size_t kMaxKeyDigits = 512;
constexpr std::size_t kMaxKeyFile = 4096;

// A file OpenSSL could not load: what it should hold, then OpenSSL's reason.
[[noreturn]] void unusable(const char* variable, const std::string& path, const char* problem,
                           Origin origin = Origin::here()) {
  misconfigured(variable, quotedText(path) + ": " + problem + " (" + opensslReason() + ")", origin);
}

// A file named by a variable, opened without blocking (a FIFO must not wedge the run) and
// refused unless it is a regular file.
Fd openRegular(const std::string& variable, const std::string& path, struct stat& status) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0) {
    misconfigured(variable, quotedText(path) + ": " + std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) misconfigured(variable, quotedText(path) + ": não é um arquivo");
  return fd;
}

void checkReadable(const std::string& variable, const std::string& path) {
  struct stat status {};
  openRegular(variable, path, status);
}

std::string octalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Holds bytes of key material and wipes them however the scope ends.
class Wiped {
 public:
  Wiped(void* data, std::size_t size) : data_(data), size_(size) {}
  ~Wiped() { OPENSSL_cleanse(data_, size_); }
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;

 private:
  void* data_;
  std::size_t size_;
};

int refusePassphrase(char*, int, int, void*) { return 0; }

// With a PSK the key is what authenticates the server. A TLS 1.3 server may still answer with a
// certificate and no PSK at all; any such certificate ends the handshake, whoever signed it.
int refuseCertificate(int, X509_STORE_CTX* store) {
  X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
  return 0;
}

}  // namespace

std::string opensslReason() {
  const unsigned long first = ERR_get_error();
  ERR_clear_error();
  const char* reason = first != 0 ? ERR_reason_error_string(first) : nullptr;
  return reason != nullptr ? reason : "erro desconhecido do OpenSSL";
}

void TlsContext::ContextDeleter::operator()(ssl_ctx_st* context) const { SSL_CTX_free(context); }

TlsContext::TlsContext(const TlsSettings& settings) : settings_(settings) {
  context_.reset(SSL_CTX_new(TLS_client_method()));
  if (!context_ || SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION) != 1) {
    throw Failure(FailureKind::System, "SSL_CTX_new: " + opensslReason());
  }
  // An encrypted key file must fail to load, not stop the run at a passphrase prompt.
  SSL_CTX_set_default_passwd_cb(context_.get(), &refusePassphrase);
  SSL_CTX_set_app_data(context_.get(), this);
  if (settings_.mode == TlsSettings::Mode::Psk) {
    loadPsk();
  } else {
    loadCertificates();
  }
}

TlsContext::~TlsContext() = default;

// A core file or a debugger would show the key (OpenSSL keeps copies of its own): while one is
// loaded the process is not dumpable, which also keeps other processes of its user from tracing
// it.
void TlsContext::NotDumpable::engage() {
  before_ = ::prctl(PR_GET_DUMPABLE);
  ::prctl(PR_SET_DUMPABLE, 0);
}

TlsContext::NotDumpable::~NotDumpable() {
  if (before_ > 0) ::prctl(PR_SET_DUMPABLE, before_);
}

KeyMemory::KeyMemory() {
  void* page =
      ::mmap(nullptr, kCapacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) failSystem("mmap", errno);
  if (::madvise(page, kCapacity, MADV_DONTDUMP) != 0) {
    const int error = errno;
    ::munmap(page, kCapacity);
    failSystem("madvise", error);
  }
  ::mlock(page, kCapacity);  // best effort: a small RLIMIT_MEMLOCK may refuse it
  bytes_ = static_cast<unsigned char*>(page);
}

KeyMemory::~KeyMemory() {
  OPENSSL_cleanse(bytes_, kCapacity);
  ::munlock(bytes_, kCapacity);
  ::munmap(bytes_, kCapacity);
}

// The key file holds the key as hex digits on its first line. Like ssh with its keys, a file
// that every user may read is refused: the key would no longer be a secret.
void TlsContext::loadPsk() {
  notDumpable_.engage();
  const std::string& path = settings_.pskFile;
  struct stat status {};
  const Fd fd = openRegular("ZBX_TLSPSKFILE", path, status);
  if ((status.st_mode & S_IRWXO) != 0) {
    misconfigured("ZBX_TLSPSKFILE", quotedText(path) + ": acessível a todos os usuários (modo " +
                                        octalMode(status.st_mode) + "); use chmod o-rwx");
  }
  char text[kMaxKeyFile + 1];
  const Wiped wipeText(text, sizeof text);
  std::size_t size = 0;
  while (size < sizeof text) {
    const ssize_t n = ::read(fd.get(), text + size, sizeof text - size);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) misconfigured("ZBX_TLSPSKFILE", quotedText(path) + ": " + std::strerror(errno));
    size += static_cast<std::size_t>(n);
  }
  if (size > kMaxKeyFile) {
    misconfigured("ZBX_TLSPSKFILE",
                  quotedText(path) + ": mais de " + std::to_string(kMaxKeyFile) + " bytes");
  }
  std::size_t digits = 0;
  while (digits < size && hexDigitValue(text[digits]) >= 0) ++digits;
  // Only the line's end (and blanks) may follow the digits: no NUL, no second line.
  if (std::any_of(
          text + digits, text + size,
          [](char c) { return std::string_view(" \t\r\n").find(c) == std::string_view::npos; }) ||
      digits == 0) {
    misconfigured("ZBX_TLSPSKFILE", quotedText(path) + ": a chave não está em hexadecimal");
  }
  if (digits < kMinKeyDigits || digits > kMaxKeyDigits || digits % 2 != 0) {
    misconfigured("ZBX_TLSPSKFILE", quotedText(path) + ": a chave tem " + std::to_string(digits) +
                                        " dígitos hexadecimais; são precisos de 32 a 512, em "
                                        "número par");
  }
  static_assert(KeyMemory::kCapacity >= kMaxKeyDigits / 2);
  key_ = std::make_unique<KeyMemory>();
  for (std::size_t i = 0; i < digits; i += 2) {
    key_->push_back(
        static_cast<unsigned char>(hexDigitValue(text[i]) * 16 + hexDigitValue(text[i + 1])));
  }
  SSL_CTX_set_psk_client_callback(context_.get(), &TlsContext::pskCallback);
  SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, &refuseCertificate);
  if (SSL_CTX_set_cipher_list(context_.get(), kPskCiphers) != 1) {
    throw Failure(FailureKind::System, "SSL_CTX_set_cipher_list: " + opensslReason());
  }
}

unsigned int TlsContext::pskCallback(ssl_st* ssl, const char*, char* identity,
                                     unsigned int maxIdentity, unsigned char* psk,
                                     unsigned int maxPsk) {
  const auto* self = static_cast<const TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  const std::string& name = self->settings_.pskIdentity;
  const KeyMemory& key = *self->key_;
  if (name.size() + 1 > maxIdentity || key.size() > maxPsk) return 0;
  std::memcpy(identity, name.c_str(), name.size() + 1);
  std::memcpy(psk, key.data(), key.size());
  return static_cast<unsigned int>(key.size());
}

// The server's certificate must chain to the CA file (and not be revoked, with a CRL file); no
// host name is checked, as Zabbix checks none: issuer and subject, when given, stand for it.
void TlsContext::loadCertificates() {
  SSL_CTX* context = context_.get();
  checkReadable("ZBX_TLSCAFILE", settings_.caFile);
  if (SSL_CTX_load_verify_locations(context, settings_.caFile.c_str(), nullptr) != 1) {
    unusable("ZBX_TLSCAFILE", settings_.caFile, "não contém certificados PEM");
  }
  if (!settings_.crlFile.empty()) {
    checkReadable("ZBX_TLSCRLFILE", settings_.crlFile);
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_file());
    if (lookup == nullptr ||
        X509_load_crl_file(lookup, settings_.crlFile.c_str(), X509_FILETYPE_PEM) <= 0) {
      unusable("ZBX_TLSCRLFILE", settings_.crlFile, "não contém uma CRL PEM");
    }
    X509_STORE_set_flags(store, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
  }
  checkReadable("ZBX_TLSCERTFILE", settings_.certFile);
  if (SSL_CTX_use_certificate_chain_file(context, settings_.certFile.c_str()) != 1) {
    unusable("ZBX_TLSCERTFILE", settings_.certFile, "não contém um certificado PEM");
  }
  checkReadable("ZBX_TLSKEYFILE", settings_.keyFile);
  if (SSL_CTX_use_PrivateKey_file(context, settings_.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    if (ERR_GET_REASON(ERR_peek_error()) == X509_R_KEY_VALUES_MISMATCH) {
      ERR_clear_error();
      misconfigured("ZBX_TLSKEYFILE", quotedText(settings_.keyFile) +
                                          ": a chave não é a do certificado de ZBX_TLSCERTFILE");
    }
    unusable("ZBX_TLSKEYFILE", settings_.keyFile, "não contém uma chave privada PEM sem senha");
  }
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  if (SSL_CTX_set_cipher_list(context, kCertificateCiphers) != 1) {
    throw Failure(FailureKind::System, "SSL_CTX_set_cipher_list: " + opensslReason());
  }
}

std::unique_ptr<const TlsContext> loadEnvironmentTls() {
  const TlsSettings settings = readTlsSettings(&std::getenv);
  return settings.mode == TlsSettings::Mode::Unencrypted
             ? nullptr
             : std::make_unique<const TlsContext>(settings);
}

}  // namespace bm
