#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "zabbix/connection.hpp"
#include "zabbix/tls_settings.hpp"

struct ssl_ctx_st;
struct ssl_st;

namespace bm {

// Key bytes in memory of their own, left out of core dumps and kept out of swap where the system
// allows; wiped when they go.
class KeyMemory {
 public:
  KeyMemory();
  ~KeyMemory();
  KeyMemory(const KeyMemory&) = delete;
  KeyMemory& operator=(const KeyMemory&) = delete;

  static constexpr std::size_t kCapacity = 256;
  void push_back(unsigned char byte) { bytes_[size_++] = byte; }
  const unsigned char* data() const { return bytes_; }
  std::size_t size() const { return size_; }

 private:
  unsigned char* bytes_;
  std::size_t size_ = 0;
};

// The keys and certificates of a run, loaded and checked once. Fails with Configuration, naming
// the variable and the problem, never the key. While a PSK is loaded the process cannot be
// dumped or traced by its user.
class TlsContext {
 public:
  explicit TlsContext(const TlsSettings& settings);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  ssl_ctx_st* get() const { return context_.get(); }
  const TlsSettings& settings() const { return settings_; }

 private:
  struct ContextDeleter {
    void operator()(ssl_ctx_st* context) const;
  };
  void loadPsk();
  void loadCertificates();
  static unsigned int pskCallback(ssl_st* ssl, const char* hint, char* identity,
                                  unsigned int maxIdentity, unsigned char* psk,
                                  unsigned int maxPsk);

  TlsSettings settings_;
  std::unique_ptr<ssl_ctx_st, ContextDeleter> context_;
  // Keeps the process from being dumped or traced from engage() on, until it goes.
  class NotDumpable {
   public:
    NotDumpable() = default;
    ~NotDumpable();
    NotDumpable(const NotDumpable&) = delete;
    NotDumpable& operator=(const NotDumpable&) = delete;
    void engage();

   private:
    int before_ = -1;
  };
  NotDumpable notDumpable_;         // declared before the key, so it goes after it
  std::unique_ptr<KeyMemory> key_;  // the PSK's bytes
};

// The context the environment's ZBX_TLS* variables ask for, loaded and checked; nullptr when
// they ask for plain text.
std::unique_ptr<const TlsContext> loadEnvironmentTls();

// A TLS session over a connection: the handshake happens in the constructor, before the deadline,
// and its failure (a server certificate whose issuer or subject does not match; with a PSK, a
// server that shows any certificate instead of using the key) fails with Delivery, like a refused
// connection. Records pass through the connection's own deadlines.
class TlsSession {
 public:
  TlsSession(const TlsContext& context, Connection& connection, const Deadline& deadline);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  void sendAll(std::string_view bytes, const Deadline& deadline);
  // As Connection::receiveSome: 0 once the server has closed.
  std::size_t receiveSome(char* out, std::size_t size, const Deadline& deadline);
  const std::string& peer() const { return connection_.peer(); }

 private:
  void flush(const Deadline& deadline);
  bool fill(const Deadline& deadline);
  void checkServerCertificate(const TlsSettings& settings);
  [[noreturn]] void fail(const char* operation, int result);

  struct SessionDeleter {
    void operator()(ssl_st* ssl) const;
  };
  Connection& connection_;
  std::unique_ptr<ssl_st, SessionDeleter> ssl_;
};

}  // namespace bm
