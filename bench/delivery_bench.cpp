// The sender client's own cost: sends to a local server that answers at once, against a bare
// connect/send/receive loop that moves the same bytes, measured in alternating rounds.
//   delivery_bench [SENDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "zabbix/protocol.hpp"
#include "zabbix/sender.hpp"

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

sockaddr_in serverAddress() {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(10052);
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

// Reads one request (header, then its body) and answers success, connection after connection.
void serve(int listener, const std::atomic<bool>& stop) {
  const std::string reply = framed(kReplyBody);
  std::vector<char> body;
  while (!stop) {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    char header[13];
    if (readExactly(fd, header, 13)) {
      std::uint32_t length = 0;
      for (int i = 8; i >= 5; --i) length = (length << 8) | static_cast<unsigned char>(header[i]);
      body.resize(length);
      if (readExactly(fd, body.data(), length))
        ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    ::close(fd);
  }
}

// The floor: what any client must do per send.
void bareSend(const std::string& request) {
  const sockaddr_in a = serverAddress();
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
  ::close(fd);
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

}  // namespace

int main(int argc, char** argv) {
  const int sends = argc > 1 ? std::atoi(argv[1]) : 10000;
  constexpr int kRounds = 5;
  const int perRound = sends / kRounds;

  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in a = serverAddress();
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listener, 128) != 0) {
    std::perror("bind 127.0.0.9:10052");
    return 1;
  }
  std::atomic<bool> stop{false};
  std::thread server(serve, listener, std::cref(stop));

  const bm::ZabbixSender sender(kAddress, 10052);
  const std::vector<bm::ZabbixMetric> metrics = {
      bm::ZabbixMetric("backups", "ultimaModificacao[CORE-SW1]", 86400.5)};
  const std::string request = bm::zabbix::senderRequest({metrics[0].item()});

  std::vector<double> bare;
  std::vector<double> client;
  for (int round = 0; round < kRounds; ++round) {
    bare.push_back(secondsFor(perRound, [&] { bareSend(request); }));
    client.push_back(secondsFor(perRound, [&] { sender.send(metrics); }));
  }
  stop = true;
  server.join();
  ::close(listener);

  const double b = median(bare) / perRound * 1e6;
  const double c = median(client) / perRound * 1e6;
  std::printf("sends: %d in %d alternating rounds (median round)\n", perRound * kRounds, kRounds);
  std::printf("bare connect/send/receive loop: %8.1f us per send\n", b);
  std::printf("ZabbixSender::send:             %8.1f us per send\n", c);
  std::printf("ratio client / bare:            %8.3f\n", c / b);
  return 0;
}
