#include "zabbix/tls.hpp"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

#include "base/failure.hpp"
#include "base/fd.hpp"
#include "support/fake_zabbix.hpp"
#include "support/temp_dir.hpp"
#include "zabbix/sender.hpp"

namespace bm {
namespace {

using test::FakeZabbix;

constexpr char kKey[] = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
constexpr char kOtherKey[] = "ffeeddccbbaa99887766554433221100";
constexpr char kIdentity[] = "backups-psk";
constexpr char kInfo[] = "processed: 1; failed: 0; total: 1; seconds spent: 0.000055";

// The agent's side: a key file of its own, read as the program reads ZBX_TLSPSKFILE.
struct PskClient {
  test::TempDir dir;
  std::unique_ptr<TlsContext> context;

  explicit PskClient(const std::string& hex) {
    const std::string path = dir / "psk.key";
    std::ofstream(path) << hex << "\n";
    ::chmod(path.c_str(), 0600);
    TlsSettings settings;
    settings.mode = TlsSettings::Mode::Psk;
    settings.pskIdentity = kIdentity;
    settings.pskFile = path;
    context = std::make_unique<TlsContext>(settings);
  }
};

std::string keyBytes(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

unsigned int serverPsk(SSL* ssl, const char* identity, unsigned char* psk, unsigned int max) {
  const auto* key = static_cast<const std::string*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (std::strcmp(identity, kIdentity) != 0 || key->size() > max) return 0;
  std::memcpy(psk, key->data(), key->size());
  return static_cast<unsigned int>(key->size());
}

using ContextPtr = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;

// An impostor's credentials: a fresh self-signed certificate and no PSK at all.
void useSelfSignedCertificate(SSL_CTX* context) {
  const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"),
                                                                &EVP_PKEY_free);
  const std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), &X509_free);
  X509* x = certificate.get();
  ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
  X509_gmtime_adj(X509_getm_notBefore(x), 0);
  X509_gmtime_adj(X509_getm_notAfter(x), 86400);
  X509_set_pubkey(x, key.get());
  X509_set_issuer_name(x, X509_get_subject_name(x));
  X509_sign(x, key.get(), EVP_sha256());
  SSL_CTX_use_certificate(context, x);
  SSL_CTX_use_PrivateKey(context, key.get());
}

// A Zabbix trapper behind TLS on 127.0.0.N:10052, for one connection: with the PSK of hex, or
// with an empty hex as an impostor that has only a certificate. The agent's whole encrypted path
// under the sanitizers, which never meet the real server.
class TlsTrapper {
 public:
  TlsTrapper(int n, const std::string& hex, int maxVersion)
      : key_(keyBytes(hex)), listener_(test::listenOn("127.0.0." + std::to_string(n), 10052, 1)) {
    thread_ = std::thread([this, maxVersion] { serve(maxVersion); });
  }
  ~TlsTrapper() {
    if (thread_.joinable()) thread_.join();
  }

  // What came through the session; call after the client is done.
  std::string request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  void serve(int maxVersion) {
    pollfd p{listener_.get(), POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return;
    const Fd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const timeval limit{5, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const ContextPtr context(SSL_CTX_new(TLS_server_method()), &SSL_CTX_free);
    SSL_CTX_set_max_proto_version(context.get(), maxVersion);
    if (key_.empty()) {
      useSelfSignedCertificate(context.get());
    } else {
      SSL_CTX_set_cipher_list(context.get(), "PSK");
      SSL_CTX_set_app_data(context.get(), &key_);
      SSL_CTX_set_psk_server_callback(context.get(), &serverPsk);
    }
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), &SSL_free);
    SSL_set_fd(ssl.get(), fd.get());
    if (SSL_accept(ssl.get()) != 1) return;
    char buffer[65536];
    for (std::size_t wanted = 13; request_.size() < wanted;) {
      const int n = SSL_read(ssl.get(), buffer, sizeof buffer);
      if (n <= 0) return;
      request_.append(buffer, static_cast<std::size_t>(n));
      if (request_.size() >= 13) {
        std::uint32_t length = 0;
        std::memcpy(&length, request_.data() + 5, 4);
        wanted = 13 + length;
      }
    }
    const std::string reply =
        FakeZabbix::frame(std::string(R"({"response":"success","info":")") + kInfo + "\"}");
    SSL_write(ssl.get(), reply.data(), static_cast<int>(reply.size()));
    SSL_shutdown(ssl.get());
  }

  std::string key_;
  Fd listener_;
  std::string request_;
  std::thread thread_;
};

// The message of the failure a send ends in, or its "info" when it completes.
std::string sendOnce(const std::string& server, const TlsContext& tls, const std::string& value,
                     SenderTimeouts timeouts) {
  try {
    SenderMemory memory;
    return ZabbixSender(server, 10052, memory, timeouts, &tls)
        .send({makeItem("host", "key", value)});
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::Delivery);
    return failure.message();
  }
}

const SenderTimeouts kShort{std::chrono::milliseconds(2000), std::chrono::milliseconds(2000)};

// A value of several records each way, over both versions Zabbix builds speak (Debian's 6.0
// server takes only TLS 1.2 with a PSK; servers built with OpenSSL take 1.3 too).
TEST(TlsSender, DeliversOverPskInEitherVersion) {
  const PskClient client(kKey);
  const std::string value(100000, 'v');
  const struct {
    const char* name;
    int version;
    int n;
  } cases[] = {{"TLS 1.2", TLS1_2_VERSION, 11}, {"TLS 1.3", TLS1_3_VERSION, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TlsTrapper server(c.n, kKey, c.version);
    EXPECT_EQ(sendOnce("127.0.0." + std::to_string(c.n), *client.context, value, kShort), kInfo);
    EXPECT_EQ(server.request(), senderRequest({makeItem("host", "key", value)}));
  }
}

// Whether the memory area holding address is left out of core dumps.
bool leftOutOfDumps(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream maps("/proc/self/smaps");
  bool inside = false;
  for (std::string line; std::getline(maps, line);) {
    std::uintptr_t from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR " ", &from, &to) == 2) {
      inside = from <= at && at < to;
    } else if (inside && line.starts_with("VmFlags:")) {
      return (line + " ").find(" dd ") != std::string::npos;
    }
  }
  return false;
}

// A crash while a key is loaded leaves no core file to read it from: the process is not dumpable
// (OpenSSL's copies included), and the key's own memory would be left out of a dump anyway.
TEST(TlsContext, APskKeepsItselfOutOfCoreDumps) {
  const int dumpable = ::prctl(PR_GET_DUMPABLE);
  {
    const PskClient client(kKey);
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE), 0);
  }
  EXPECT_EQ(::prctl(PR_GET_DUMPABLE), dumpable);
  const KeyMemory key;
  EXPECT_TRUE(leftOutOfDumps(key.data()));
}

// A handshake failure as the program words it, without the TLS library's own reason after it,
// which changes from one library version to the next.
std::string ourWords(const std::string& message) {
  const std::string handshake = "TLS handshake ";
  if (message.rfind(handshake, 0) != 0) return message;
  return message.substr(0, message.find(": ", handshake.size()) + 2) + "...";
}

// Each costs one failed send within the connect time-out, which covers the handshake.
TEST(TlsSender, EveryHandshakeThatFailsIsAFailedSend) {
  const PskClient client(kKey);
  const PskClient stranger(kOtherKey);
  {
    TlsTrapper server(13, kKey, TLS1_2_VERSION);
    EXPECT_EQ(ourWords(sendOnce("127.0.0.13", *stranger.context, "1", kShort)),
              "TLS handshake 127.0.0.13:10052: ...");
  }
  {
    // A server that does not know the key must never read the value, whatever it shows instead.
    TlsTrapper impostor(15, "", TLS1_3_VERSION);
    EXPECT_EQ(sendOnce("127.0.0.15", *client.context, "1", kShort),
              "TLS 127.0.0.15:10052: o servidor mostrou um certificado em vez de usar a PSK");
    EXPECT_EQ(impostor.request(), "");
  }
  using Answer = FakeZabbix::Answer;
  const std::string peer = "127.0.0.14:10052";
  const struct {
    const char* name;
    Answer answer;
    std::string message;
  } cases[] = {
      {"never answers", Answer{"", false, false}, "recv " + peer + ": tempo esgotado"},
      {"closes at once", Answer{"", false, true, {}, false, true},
       "TLS " + peer + ": conexão fechada no handshake"},
      {"closes after half a ServerHello",
       Answer{"\x16\x03\x03\x00\x40\x02", false, true, {}, false, true},
       "TLS " + peer + ": conexão fechada no handshake"},
      {"answers in plain text", Answer{FakeZabbix::success().bytes, false, true, {}, false, true},
       "TLS handshake " + peer + ": ..."},
  };
  std::size_t row = 0;
  FakeZabbix server(14, [&](int, const std::string&) { return cases[row].answer; });
  // A reply time-out the test would not survive: the handshake must end by the connect one.
  const SenderTimeouts tight{std::chrono::milliseconds(300), std::chrono::minutes(10)};
  for (; row < std::size(cases); ++row) {
    SCOPED_TRACE(cases[row].name);
    EXPECT_EQ(ourWords(sendOnce("127.0.0.14", *client.context, "1", tight)), cases[row].message);
  }
}

}  // namespace
}  // namespace bm
