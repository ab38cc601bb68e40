// The sender client's own cost: sends to a local server that answers at once, against a bare
// connect/send/receive loop that moves the same bytes, measured in alternating rounds; then the
// same sends over TLS with a PSK and with certificates, each connection a full handshake.
// Then distance: a run's delivery of 1,000 values through a relay that adds a round trip to each
// connection and half of one to each chunk either way (as a remote site's link would; netem is
// not at hand), batched, against the floor of as many bare requests through the same relay.
//   delivery_bench [SENDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/fd.hpp"
#include "base/system_log.hpp"
#include "support/fake_zabbix.hpp"
#include "zabbix/delivery.hpp"
#include "zabbix/protocol.hpp"
#include "zabbix/sender.hpp"
#include "zabbix/tls.hpp"

namespace {

constexpr const char* kAddress = "127.0.0.9";
const std::string kReplyBody =
    R"({"response":"success","info":"processed: 1; failed: 0; total: 1; seconds spent: 0.000055"})";

std::string framed(const std::string& body) {
  std::string out = "ZBXD\x01";
  for (int i = 0; i < 4; ++i) out += static_cast<char>((body.size() >> (8 * i)) & 0xFF);
  out.append(4, '\0');
  return out + body;
}

sockaddr_in serverAddress(int port = 10052) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, kAddress, &a.sin_addr);
  return a;
}

bool readExactly(int fd, char* out, std::size_t size) {
  for (std::size_t got = 0; got < size;) {
    const ssize_t n = ::recv(fd, out + got, size - got, 0);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool readExactly(SSL* ssl, char* out, std::size_t size) {
  for (std::size_t got = 0; got < size;) {
    const int n = SSL_read(ssl, out + got, static_cast<int>(size - got));
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads one request (header, then its body) and answers success.
template <typename Stream, typename Write>
void answer(Stream stream, Write write) {
  static const std::string reply = framed(kReplyBody);
  char header[13];
  if (!readExactly(stream, header, 13)) return;
  std::uint32_t length = 0;
  for (int i = 8; i >= 5; --i) length = (length << 8) | static_cast<unsigned char>(header[i]);
  std::vector<char> body(length);
  if (readExactly(stream, body.data(), length)) write(reply);
}

// Connection after connection; in TLS when given a context.
void serve(int listener, const std::atomic<bool>& stop, SSL_CTX* tls = nullptr) {
  while (!stop) {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const bm::Fd accepted(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    const int fd = accepted.get();
    if (fd < 0) continue;
    if (tls == nullptr) {
      answer(fd, [&](const std::string& r) { ::send(fd, r.data(), r.size(), MSG_NOSIGNAL); });
    } else {
      const std::unique_ptr<SSL, decltype(&SSL_free)> session(SSL_new(tls), &SSL_free);
      SSL* ssl = session.get();
      SSL_set_fd(ssl, fd);
      if (SSL_accept(ssl) == 1) {
        answer(ssl, [&](const std::string& r) { SSL_write(ssl, r.data(), int(r.size())); });
        SSL_shutdown(ssl);
      }
    }
  }
}

bm::Fd listenOn(int port) { return bm::test::listenOn(kAddress, port, 128); }

// The key files of both kinds, as an operator would make them: a 256-bit PSK, and self-signed
// RSA 2048 certificates that each side takes as its CA.
struct KeyFiles {
  std::filesystem::path dir;
  std::string pskHex = std::string(64, 'a');
  KeyFiles() {
    char pattern[] = "/tmp/bm-bench-tls-XXXXXX";
    dir = ::mkdtemp(pattern);
    writeText("psk.key", pskHex + "\n");
    certificate("server");
    certificate("agent");
  }
  ~KeyFiles() { std::filesystem::remove_all(dir); }
  std::string operator/(const char* name) const { return (dir / name).string(); }

  void writeText(const char* name, const std::string& text) const {
    std::ofstream(*this / name) << text;
    ::chmod((*this / name).c_str(), 0600);
  }
  void certificate(const std::string& name) const {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> owned(EVP_RSA_gen(2048),
                                                                    &EVP_PKEY_free);
    const std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), &X509_free);
    EVP_PKEY* key = owned.get();
    X509* x = certificate.get();
    ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 86400);
    X509_set_pubkey(x, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(x, X509_get_subject_name(x));
    X509_sign(x, key, EVP_sha256());
    const auto file = [&](const std::string& suffix) {
      return std::unique_ptr<BIO, decltype(&BIO_free)>(
          BIO_new_file((*this / (name + suffix).c_str()).c_str(), "w"), &BIO_free);
    };
    PEM_write_bio_X509(file(".crt").get(), x);
    PEM_write_bio_PrivateKey(file(".key").get(), key, nullptr, nullptr, 0, nullptr, nullptr);
  }
};

unsigned int serverPsk(SSL*, const char*, unsigned char* psk, unsigned int) {
  std::memset(psk, 0xaa, 32);
  return 32;
}

SSL_CTX* pskServer() {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  // Debian 12's Zabbix server takes PSK connections in TLS 1.2 only.
  SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_cipher_list(context, "PSK");
  SSL_CTX_set_psk_server_callback(context, &serverPsk);
  return context;
}

SSL_CTX* certificateServer(const KeyFiles& files) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate_chain_file(context, (files / "server.crt").c_str());
  SSL_CTX_use_PrivateKey_file(context, (files / "server.key").c_str(), SSL_FILETYPE_PEM);
  SSL_CTX_load_verify_locations(context, (files / "agent.crt").c_str(), nullptr);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  return context;
}

// The floor: what any client must do per send.
void bareSend(const std::string& request) {
  const sockaddr_in a = serverAddress();
  const bm::Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int fd = socket.get();
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    throw std::runtime_error("connect");
  }
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  char header[13];
  std::vector<char> body;
  if (!readExactly(fd, header, 13)) throw std::runtime_error("reply");
  std::uint32_t length = 0;
  for (int i = 8; i >= 5; --i) length = (length << 8) | static_cast<unsigned char>(header[i]);
  body.resize(length);
  readExactly(fd, body.data(), length);
}

template <typename F>
double secondsFor(int count, F&& f) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A relay from its own port to the server's that delays what crosses it: a round trip before a
// connection is taken on (the TCP handshake's), and half of one before each chunk either way.
class DistanceRelay {
 public:
  DistanceRelay(int port, int serverPort, std::chrono::milliseconds roundTrip)
      : listener_(listenOn(port)), serverPort_(serverPort), roundTrip_(roundTrip) {
    thread_ = std::thread([this] { run(); });
  }
  ~DistanceRelay() {
    stop_ = true;
    thread_.join();
  }

 private:
  void run() {
    std::vector<std::thread> connections;
    while (!stop_) {
      pollfd p{listener_.get(), POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      bm::Fd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client.get() < 0) continue;
      connections.emplace_back([this, c = std::move(client)]() mutable { carry(std::move(c)); });
    }
    for (std::thread& t : connections) t.join();
  }

  void carry(bm::Fd client) {
    std::this_thread::sleep_for(roundTrip_);
    const sockaddr_in a = serverAddress(serverPort_);
    const bm::Fd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(server.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return;
    std::thread back([&] { forward(server.get(), client.get()); });
    forward(client.get(), server.get());
    back.join();
  }

  // Each chunk leaves half a round trip after it arrived; the end of one side ends the other.
  void forward(int from, int to) const {
    std::vector<char> chunk(1 << 20);
    for (;;) {
      const ssize_t n = ::recv(from, chunk.data(), chunk.size(), 0);
      if (n <= 0) break;
      std::this_thread::sleep_for(roundTrip_ / 2);
      if (::send(to, chunk.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
    }
    ::shutdown(to, SHUT_WR);
  }

  bm::Fd listener_;
  int serverPort_;
  std::chrono::milliseconds roundTrip_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

unsigned int clientPsk(SSL*, const char*, char* identity, unsigned int maxIdentity,
                       unsigned char* psk, unsigned int) {
  constexpr char kIdentity[] = "bench";
  if (maxIdentity < sizeof kIdentity) return 0;
  std::memcpy(identity, kIdentity, sizeof kIdentity);
  std::memset(psk, 0xaa, 32);
  return 32;
}

// The floor at a distance: one bare request of this many values (connection, handshake,
// request, reply), in TLS when given a context.
void bareRequest(int port, const std::string& request, SSL_CTX* tls) {
  const sockaddr_in a = serverAddress(port);
  const bm::Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int fd = socket.get();
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    throw std::runtime_error("connect");
  }
  const int noDelay = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  char header[13];
  if (tls == nullptr) {
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    if (!readExactly(fd, header, 13)) throw std::runtime_error("reply");
    return;
  }
  const std::unique_ptr<SSL, decltype(&SSL_free)> session(SSL_new(tls), &SSL_free);
  SSL_set_fd(session.get(), fd);
  if (SSL_connect(session.get()) != 1) throw std::runtime_error("handshake");
  SSL_write(session.get(), request.data(), static_cast<int>(request.size()));
  if (!readExactly(session.get(), header, 13)) throw std::runtime_error("reply");
}

// A run's delivery of values ages in requests of batch (0: one value per request).
double deliverySeconds(int port, int values, std::size_t batch, const bm::TlsContext* tls) {
  bm::SystemLog quiet("");
  bm::DeliveryOptions options;
  options.tls = tls;
  options.batch = batch;
  bm::Delivery delivery(quiet, "bench", options);
  const std::string server = std::string(kAddress) + ":" + std::to_string(port);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < values; ++i) {
    delivery.send_zabbix(server, "backups", "ultimaModificacao[SW" + std::to_string(i) + "]",
                         86400.5 + i);
  }
  delivery.flush();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void measureDistance(const bm::TlsContext& pskClient) {
  constexpr std::chrono::milliseconds kRoundTrip{100};
  constexpr int kValues = 1000;
  constexpr std::size_t kBatch = 250;
  constexpr int kUnbatched = 6;  // values sent one per request, to extrapolate today's cost
  const DistanceRelay plainRelay(10062, 10052, kRoundTrip);
  const DistanceRelay pskRelay(10063, 10053, kRoundTrip);
  const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> bareTls(SSL_CTX_new(TLS_client_method()),
                                                                  &SSL_CTX_free);
  SSL_CTX_set_cipher_list(bareTls.get(), "PSK");
  SSL_CTX_set_psk_client_callback(bareTls.get(), &clientPsk);
  std::vector<bm::Item> items;
  for (std::size_t i = 0; i < kBatch; ++i) {
    items.emplace_back("backups", "ultimaModificacao[SW" + std::to_string(i) + "]", "86400.5",
                       bm::clockNow());
  }
  const std::string request = bm::senderRequest(items);
  const int requests = static_cast<int>((kValues + kBatch - 1) / kBatch);
  const double plainFloor = secondsFor(requests, [&] { bareRequest(10062, request, nullptr); });
  const double plain = deliverySeconds(10062, kValues, kBatch, nullptr);
  const double plainOne = deliverySeconds(10062, kUnbatched, 0, nullptr) / kUnbatched;
  const double pskFloor = secondsFor(requests, [&] { bareRequest(10063, request, bareTls.get()); });
  const double psk = deliverySeconds(10063, kValues, kBatch, &pskClient);
  const double pskOne = deliverySeconds(10063, kUnbatched, 0, &pskClient) / kUnbatched;
  std::printf("\ndistance: %d values, round trip %lld ms, requests of %zu\n", kValues,
              static_cast<long long>(kRoundTrip.count()), kBatch);
  std::printf("  plain: batched %6.2f s, floor (%d bare requests) %6.2f s, ratio %5.2f\n", plain,
              requests, plainFloor, plain / plainFloor);
  std::printf("         one value per request: %6.1f s for %d values (%.3f s each)\n",
              plainOne * kValues, kValues, plainOne);
  std::printf("  PSK:   batched %6.2f s, floor (%d bare requests) %6.2f s, ratio %5.2f\n", psk,
              requests, pskFloor, psk / pskFloor);
  std::printf("         one value per request: %6.1f s for %d values (%.3f s each)\n",
              pskOne * kValues, kValues, pskOne);
}

}  // namespace

int main(int argc, char** argv) {
  const int sends = argc > 1 ? std::atoi(argv[1]) : 10000;
  constexpr int kRounds = 5;
  const int perRound = sends / kRounds;

  const KeyFiles files;
  bm::TlsSettings psk;
  psk.mode = bm::TlsSettings::Mode::Psk;
  psk.pskIdentity = "bench";
  psk.pskFile = files / "psk.key";
  bm::TlsSettings cert;
  cert.mode = bm::TlsSettings::Mode::Certificate;
  cert.caFile = files / "server.crt";
  cert.certFile = files / "agent.crt";
  cert.keyFile = files / "agent.key";
  const bm::TlsContext pskClient(psk);
  const bm::TlsContext certClient(cert);
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> pskContext(pskServer(), &SSL_CTX_free);
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> certContext(certificateServer(files),
                                                                &SSL_CTX_free);

  const bm::Fd listeners[] = {listenOn(10052), listenOn(10053), listenOn(10054)};
  std::atomic<bool> stop{false};
  std::thread servers[] = {
      std::thread(serve, listeners[0].get(), std::cref(stop), nullptr),
      std::thread(serve, listeners[1].get(), std::cref(stop), pskContext.get()),
      std::thread(serve, listeners[2].get(), std::cref(stop), certContext.get())};

  const bm::SenderTimeouts timeouts;
  bm::SenderMemory memory;
  const bm::ZabbixSender plain(kAddress, 10052, memory);
  const bm::ZabbixSender overPsk(kAddress, 10053, memory, timeouts, &pskClient);
  const bm::ZabbixSender overCertificates(kAddress, 10054, memory, timeouts, &certClient);
  const std::vector<bm::Item> metrics = {
      bm::makeItem("backups", "ultimaModificacao[CORE-SW1]", 86400.5)};
  const std::string request = bm::senderRequest(metrics);

  std::vector<double> bare, client, withPsk, withCertificates;
  for (int round = 0; round < kRounds; ++round) {
    bare.push_back(secondsFor(perRound, [&] { bareSend(request); }));
    client.push_back(secondsFor(perRound, [&] { plain.send(metrics); }));
    withPsk.push_back(secondsFor(perRound, [&] { overPsk.send(metrics); }));
    withCertificates.push_back(secondsFor(perRound, [&] { overCertificates.send(metrics); }));
  }
  stop = true;
  for (std::thread& server : servers) server.join();

  const auto perSend = [&](const std::vector<double>& rounds) {
    return median(rounds) / perRound * 1e6;
  };
  const double b = perSend(bare);
  const double c = perSend(client);
  const double p = perSend(withPsk);
  const double t = perSend(withCertificates);
  std::printf("sends: %d of each in %d alternating rounds (median round)\n", perRound * kRounds,
              kRounds);
  std::printf("bare connect/send/receive loop: %8.1f us per send\n", b);
  std::printf("ZabbixSender::send:             %8.1f us per send\n", c);
  std::printf("  over TLS 1.2 with a PSK:      %8.1f us per send\n", p);
  std::printf("  over TLS 1.3, certificates:   %8.1f us per send\n", t);
  std::printf("ratio client / bare:            %8.3f\n", c / b);
  std::printf("ratio PSK / plain client:       %8.3f\n", p / c);
  std::printf("ratio certificates / plain:     %8.3f\n", t / c);

  std::thread distantServers[] = {
      std::thread(serve, listeners[0].get(), std::cref(stop), nullptr),
      std::thread(serve, listeners[1].get(), std::cref(stop), pskContext.get())};
  stop = false;
  int status = 0;
  try {
    measureDistance(pskClient);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "distance: %s\n", e.what());
    status = 1;
  }
  stop = true;
  for (std::thread& server : distantServers) server.join();
  return status;
}
