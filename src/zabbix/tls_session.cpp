// A TLS session over one connection: the handshake, the server's certificate, and records
// passed through the connection under its deadlines.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>

#include "base/failure.hpp"
#include "zabbix/openssl_reason.hpp"
#include "zabbix/tls.hpp"

namespace bm {
namespace {

// One TLS record's worth of plaintext or ciphertext at a time.
constexpr std::size_t kChunk = 16384;

std::string nameText(X509_NAME* name) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  // The form Zabbix compares issuers and subjects in: RFC 4514, most specific part first.
  if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
    return {};
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(std::max(size, 0L)));
}

std::string withoutPsk(const std::string& peer) {
  return "TLS " + peer + ": o servidor mostrou um certificado em vez de usar a PSK";
}

}  // namespace

void TlsSession::SessionDeleter::operator()(ssl_st* ssl) const { SSL_free(ssl); }

// The session reads and writes memory buffers; the bytes cross the connection here, under its
// deadlines, so that a server that stalls mid-handshake costs a time-out like any other.
TlsSession::TlsSession(const TlsContext& context, Connection& connection, const Deadline& deadline)
    : connection_(connection), ssl_(SSL_new(context.get())) {
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  if (!ssl_ || in == nullptr || out == nullptr) {
    BIO_free(in);
    BIO_free(out);
    throw Failure(FailureKind::Delivery, "TLS " + peer() + ": " + opensslReason());
  }
  BIO_set_mem_eof_return(in, -1);  // no bytes yet is "wait", not the end
  SSL_set_bio(ssl_.get(), in, out);
  SSL_set_connect_state(ssl_.get());
  for (;;) {
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_.get());
    flush(deadline);  // the handshake's next flight, or the alert that ends it
    if (result == 1) break;
    if (SSL_get_error(ssl_.get(), result) != SSL_ERROR_WANT_READ) fail("handshake", result);
    if (!fill(deadline)) {
      throw Failure(FailureKind::Delivery, "TLS " + peer() + ": conexão fechada no handshake");
    }
  }
  checkServerCertificate(context.settings());
}

TlsSession::~TlsSession() = default;

void TlsSession::checkServerCertificate(const TlsSettings& settings) {
  X509* certificate = SSL_get0_peer_certificate(ssl_.get());
  if (settings.mode == TlsSettings::Mode::Psk) {
    if (certificate != nullptr) throw Failure(FailureKind::Delivery, withoutPsk(peer()));
    return;
  }
  if (certificate == nullptr) {
    throw Failure(FailureKind::Delivery, "TLS " + peer() + ": o servidor não mostrou certificado");
  }
  const auto check = [&](const std::string& wanted, X509_NAME* name, const char* what) {
    if (wanted.empty()) return;
    const std::string found = nameText(name);
    if (found != wanted) {
      throw Failure(FailureKind::Delivery, "TLS " + peer() + ": " + what + " do certificado é " +
                                               quotedText(found) + ", não " + quotedText(wanted));
    }
  };
  check(settings.serverIssuer, X509_get_issuer_name(certificate), "o emissor");
  check(settings.serverSubject, X509_get_subject_name(certificate), "o sujeito");
}

void TlsSession::fail(const char* operation, int result) {
  const int error = SSL_get_error(ssl_.get(), result);
  std::string reason = opensslReason();
  const long verified = SSL_get_verify_result(ssl_.get());
  if (error == SSL_ERROR_SSL && verified == X509_V_ERR_APPLICATION_VERIFICATION) {
    throw Failure(FailureKind::Delivery, withoutPsk(peer()));
  }
  if (error == SSL_ERROR_SSL && verified != X509_V_OK) {
    reason = X509_verify_cert_error_string(verified);
  }
  throw Failure(FailureKind::Delivery,
                std::string("TLS ") + operation + " " + peer() + ": " + reason);
}

void TlsSession::flush(const Deadline& deadline) {
  char buffer[kChunk];
  for (;;) {
    const int n = BIO_read(SSL_get_wbio(ssl_.get()), buffer, sizeof buffer);
    if (n <= 0) return;
    connection_.sendAll(std::string_view(buffer, static_cast<std::size_t>(n)), deadline);
  }
}

bool TlsSession::fill(const Deadline& deadline) {
  char buffer[kChunk];
  const std::size_t n = connection_.receiveSome(buffer, sizeof buffer, deadline);
  if (n == 0) return false;
  if (BIO_write(SSL_get_rbio(ssl_.get()), buffer, static_cast<int>(n)) != static_cast<int>(n)) {
    throw Failure(FailureKind::Delivery, "TLS " + peer() + ": " + opensslReason());
  }
  return true;
}

void TlsSession::sendAll(std::string_view bytes, const Deadline& deadline) {
  while (!bytes.empty()) {
    ERR_clear_error();
    std::size_t written = 0;
    const int result =
        SSL_write_ex(ssl_.get(), bytes.data(), std::min(bytes.size(), kChunk), &written);
    if (result != 1) fail("send", result);
    flush(deadline);
    bytes.remove_prefix(written);
  }
}

std::size_t TlsSession::receiveSome(char* out, std::size_t size, const Deadline& deadline) {
  for (;;) {
    ERR_clear_error();
    std::size_t n = 0;
    const int result = SSL_read_ex(ssl_.get(), out, size, &n);
    if (result == 1) return n;
    const int error = SSL_get_error(ssl_.get(), result);
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    if (error != SSL_ERROR_WANT_READ) fail("recv", result);
    flush(deadline);
    if (!fill(deadline)) return 0;
  }
}

}  // namespace bm
