#include "zabbix/sender.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "base/failure.hpp"
#include "support/fake_zabbix.hpp"
#include "support/temp_dir.hpp"
#include "zabbix/server_list.hpp"

namespace bm {
namespace {

using test::FakeZabbix;

const SenderTimeouts kShort{std::chrono::milliseconds(2000), std::chrono::milliseconds(300)};

// The message of the failure a send ends in, or "" when it completes.
std::string sendOnce(const std::string& server, const MetricValue& value = std::string("1")) {
  try {
    SenderMemory memory;
    ZabbixSender(server, 10052, memory, kShort).send({makeItem("host", "key", value)});
    return "";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::Delivery);
    return failure.message();
  }
}

TEST(ZabbixSender, SendsOneFramedRequestAndCompletesOnSuccess) {
  FakeZabbix server(2, [](int, const std::string&) { return FakeZabbix::success(); });
  EXPECT_EQ(sendOnce("127.0.0.2", std::string("{\"data\": []}")), "");
  EXPECT_EQ(sendOnce("127.0.0.2", 86400.5), "");
  EXPECT_EQ(sendOnce("127.0.0.2", 1e16), "");
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string first =
      R"({"request":"sender data","data":[{"host":"host","key":"key","value":"{\"data\": []}"}]})";
  EXPECT_EQ(requests[0], FakeZabbix::frame(first));
  EXPECT_EQ(FakeZabbix::body(requests[1]),
            R"({"request":"sender data","data":[{"host":"host","key":"key","value":"86400.5"}]})");
  EXPECT_EQ(FakeZabbix::body(requests[2]),
            R"({"request":"sender data","data":[{"host":"host","key":"key","value":"1e+16"}]})");
}

TEST(ZabbixSender, SuccessCompletesWhateverTheCountsSay) {
  FakeZabbix server(3, [](int, const std::string&) {
    return FakeZabbix::Answer{FakeZabbix::frame(
        R"({"response":"success","info":"processed: 0; failed: 1; total: 1; seconds spent: 0.1"})")};
  });
  EXPECT_EQ(sendOnce("127.0.0.3"), "");
}

TEST(ZabbixSender, EveryBadServerIsAFailedSend) {
  using Answer = FakeZabbix::Answer;
  const std::string peer = "127.0.0.4:10052";
  const struct {
    const char* name;
    Answer answer;
    std::string message;
  } cases[] = {
      {"close without reply", FakeZabbix::closeAtOnce(),
       "recv " + peer + ": conexão fechada após 0 bytes da resposta"},
      {"failed", FakeZabbix::failed(),
       "resposta de " + peer +
           R"(: {"response":"failed","info":"cannot parse as a valid JSON object"})"},
      {"silent", FakeZabbix::silent(), "recv " + peer + ": tempo esgotado"},
      {"garbage", Answer{"hello, this is not Zabbix\n"},
       "resposta de " + peer + " sem a assinatura ZBXD"},
      {"wrong signature", Answer{"ZBXE" + FakeZabbix::frame("{}").substr(4)},
       "resposta de " + peer + " sem a assinatura ZBXD"},
      {"four GiB announced, then held",
       Answer{std::string("ZBXD\x01\xff\xff\xff\xff\0\0\0\0", 13), true},
       "resposta de " + peer + " anuncia 4294967295 bytes, acima de 16 MiB"},
      {"short body", Answer{FakeZabbix::frame(R"({"response":"success"})").substr(0, 20)},
       "recv " + peer + ": conexão fechada após 20 bytes da resposta"},
      {"header cut short", Answer{"ZBXD\x01"},
       "recv " + peer + ": conexão fechada após 5 bytes da resposta"},
      {"not JSON", Answer{FakeZabbix::frame("success")}, "resposta de " + peer + ": success"},
      {"empty body", Answer{FakeZabbix::frame("")}, "resposta de " + peer + ": "},
      {"compressed", Answer{FakeZabbix::frame("x\x9c", 0x03)},
       "resposta de " + peer + " com flags 3 (esperado 1)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeZabbix server(4, [&](int, const std::string&) { return c.answer; });
    EXPECT_EQ(sendOnce("127.0.0.4"), c.message);
  }
}

// A Zabbix 7.0 server or proxy that does not own a proxy group's host answers with the address of
// the proxy that does (the reply as observed on 7.0.22). Stand-ins on 127.0.0.17, one port each.
TEST(ZabbixSender, FollowsRedirectsAFewHopsNeverInACircle) {
  using Answer = FakeZabbix::Answer;
  const auto redirectTo = [](const std::string& address) {
    return Answer{FakeZabbix::frame(R"({"redirect":{"revision":1,"address":")" + address +
                                    R"("},"response":"failed"})")};
  };
  const auto redirectToPort = [&](int port) {
    return redirectTo("127.0.0.17:" + std::to_string(port));
  };
  const Answer reset{
      FakeZabbix::frame(R"({"redirect":{"revision":2,"reset":true},"response":"failed"})")};
  const auto refusedTo = [](int from, const std::string& to) {
    return "redirecionamento de 127.0.0.17:" + std::to_string(from) + " para '" + to +
           "' não seguido";
  };
  const auto refused = [&](int from, int to) {
    return refusedTo(from, "127.0.0.17:" + std::to_string(to));
  };
  const struct {
    const char* name;
    std::vector<Answer> answers;  // of ports 10052, 10053, ...
    std::string message;
  } cases[] = {
      {"one hop", {redirectToPort(10053), FakeZabbix::success()}, ""},
      {"three hops",
       {redirectToPort(10053), redirectToPort(10054), redirectToPort(10055), FakeZabbix::success()},
       ""},
      {"four hops",
       {redirectToPort(10053), redirectToPort(10054), redirectToPort(10055), redirectToPort(10056),
        FakeZabbix::success()},
       refused(10055, 10056)},
      {"a circle", {redirectToPort(10053), redirectToPort(10052)}, refused(10053, 10052)},
      {"a circle of three",
       {redirectToPort(10053), redirectToPort(10054), redirectToPort(10052)},
       refused(10054, 10052)},
      // Nothing listens on Zabbix's own port here: the refused connection shows where it went.
      {"no port: Zabbix's",
       {redirectTo("127.0.0.17")},
       "connect 127.0.0.17:10051: Connection refused"},
      {"a circle through another spelling of the address",
       {redirectToPort(10053), redirectTo("2130706449:10052")},
       refusedTo(10053, "2130706449:10052")},
      {"a circle through its IPv4-mapped IPv6 address",
       {redirectTo("[::ffff:127.0.0.17]:10052")},
       refusedTo(10052, "[::ffff:127.0.0.17]:10052")},
      {"a NUL inside the address",
       {redirectTo(R"(127.0.0.17\u0000.evil.example:10053)"), FakeZabbix::success()},
       refusedTo(10052, "127.0.0.17\\x00.evil.example:10053")},
      {"a reset, without an address",
       {reset},
       R"(resposta de 127.0.0.17:10052: {"redirect":{"revision":2,"reset":true},"response":"failed"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<FakeZabbix>> servers;
    for (std::size_t i = 0; i < c.answers.size(); ++i) {
      servers.push_back(std::make_unique<FakeZabbix>(
          "127.0.0.17", [&, i](int, const std::string&) { return c.answers[i]; },
          10052 + static_cast<int>(i)));
    }
    EXPECT_EQ(sendOnce("127.0.0.17"), c.message);
  }
}

// A redirect holds for the run: a host's next values go straight to the owner, until the owner
// fails one (a reset: the group gave the host to another proxy) and the node is asked again.
TEST(ZabbixSender, RemembersWhereAHostsValuesWereRedirectedUntilAReset) {
  using Answer = FakeZabbix::Answer;
  FakeZabbix node(
      "127.0.0.17",
      [](int, const std::string&) {
        return Answer{FakeZabbix::frame(
            R"({"redirect":{"revision":1,"address":"127.0.0.17:10061"},"response":"failed"})")};
      },
      10060);
  FakeZabbix owner(
      "127.0.0.17",
      [](int connection, const std::string&) {
        return connection == 2
                   ? Answer{FakeZabbix::frame(
                         R"({"redirect":{"revision":2,"reset":true},"response":"failed"})")}
                   : FakeZabbix::success();
      },
      10061);
  SenderMemory memory;
  ZabbixSender sender("127.0.0.17", 10060, memory, kShort);
  sender.carryValuesOf("host");
  for (int value = 0; value < 4; ++value) {
    EXPECT_NO_THROW(sender.send({makeItem("host", "key", std::to_string(value))}));
  }
  EXPECT_EQ(node.requests().size(), 2u);   // the first value, and the one the owner reset
  EXPECT_EQ(owner.requests().size(), 5u);  // four values and the reset
}

// Every node of a cluster and every hop of a redirect shares the send's one deadline: a send
// whose peers each stay within their own time-outs still ends by it, and the next send of a
// cluster goes on from the first node this one had no time for.
TEST(ZabbixSender, ASendEndsByItsDeadlineWhateverTheNodesAndHops) {
  using std::chrono::milliseconds;
  const SenderTimeouts tight{milliseconds(200), milliseconds(2000), milliseconds(500)};
  SenderMemory memory;
  const auto send = [&](const std::string& server) {
    try {
      ZabbixSender(parseServerList(server).at(0), memory, tight)
          .send({makeItem("host", "key", std::string("1"))});
      return std::string();
    } catch (const Failure& failure) {
      return failure.message();
    }
  };
  std::vector<std::unique_ptr<test::BlackHole>> holes;
  std::string cluster;
  for (int i = 0; i < 4; ++i) {
    holes.push_back(std::make_unique<test::BlackHole>("127.0.0.16", 0));
    cluster += "127.0.0.16:" + std::to_string(holes.back()->port()) + ";";
  }
  FakeZabbix active(18, [](int, const std::string&) { return FakeZabbix::success(); });
  cluster += "127.0.0.18";
  const std::string fourth = "127.0.0.16:" + std::to_string(holes[3]->port());
  const std::string failures = send(cluster);
  EXPECT_EQ(failures.substr(failures.rfind("; ")), "; tempo esgotado antes de " + fourth);
  EXPECT_EQ(send(cluster), "");
  EXPECT_EQ(active.requests().size(), 1u);

  // The second hop answers within its reply time-out, but after the send's end.
  FakeZabbix::Answer slowRedirect{FakeZabbix::frame(
      R"({"redirect":{"revision":1,"address":"127.0.0.19:10054"},"response":"failed"})")};
  slowRedirect.trickle = milliseconds(10);
  FakeZabbix first(19, [](int, const std::string&) {
    return FakeZabbix::Answer{FakeZabbix::frame(
        R"({"redirect":{"revision":1,"address":"127.0.0.19:10053"},"response":"failed"})")};
  });
  FakeZabbix second(
      19, [&](int, const std::string&) { return slowRedirect; }, 10053);
  FakeZabbix third(
      19, [](int, const std::string&) { return FakeZabbix::success(); }, 10054);
  EXPECT_EQ(send("127.0.0.19"), "recv 127.0.0.19:10053: tempo esgotado");
  EXPECT_EQ(third.requests().size(), 0u);
}

// A route that failed is forgotten, and routes are kept per node and host: the owner of one
// host's values is not the owner of another's.
TEST(ZabbixSender, ARouteIsForgottenOnceItFailsAndKeptPerHost) {
  using Answer = FakeZabbix::Answer;
  const auto redirectTo = [](int port) {
    return Answer{FakeZabbix::frame(R"({"redirect":{"revision":1,"address":"127.0.0.61:)" +
                                    std::to_string(port) + R"("},"response":"failed"})")};
  };
  // Host A's first value goes to its owner; from then on the node takes A's values itself.
  FakeZabbix node(
      61,
      [&](int connection, const std::string& request) {
        if (request.find(R"("host":"B")") != std::string::npos) return redirectTo(10062);
        return connection == 0 ? redirectTo(10061) : FakeZabbix::success();
      },
      10060);
  FakeZabbix ownerOfA(
      61,
      [](int connection, const std::string&) {
        return connection == 0 ? FakeZabbix::success() : FakeZabbix::closeAtOnce();
      },
      10061);
  FakeZabbix ownerOfB(
      61, [](int, const std::string&) { return FakeZabbix::success(); }, 10062);
  SenderMemory memory;
  const auto send = [&](const std::string& host) {
    ZabbixSender sender("127.0.0.61", 10060, memory, kShort);
    sender.carryValuesOf(host);
    sender.send({makeItem(host, "key", std::string("1"))});
  };
  send("A");  // to A's owner through the node
  send("B");  // to B's owner through the node, not straight to A's
  send("A");  // A's owner fails it: the node takes it
  send("A");  // straight to the node
  EXPECT_EQ(ownerOfA.requests().size(), 2u);
  EXPECT_EQ(ownerOfB.requests().size(), 1u);
  EXPECT_EQ(node.requests().size(), 4u);
}

// A clock that fake servers move on: real time plus what they have skipped.
std::atomic<int> skippedMilliseconds{0};
Clock::time_point skippingClock() {
  return Clock::now() + std::chrono::milliseconds(skippedMilliseconds);
}

// Each step of a send takes what is left of the send's time, never a fresh time of its own: a
// peer that answers after the send's time has passed (here, a clock moved on by a minute) leaves
// no time for the next cluster node nor for a redirect's next hop, and one that leaves half a
// second of it leaves the next node half a second, not the send's whole time again.
TEST(ZabbixSender, EachStepHasWhatIsLeftOfTheSendsTime) {
  using std::chrono::milliseconds;
  skippedMilliseconds = 0;
  const SenderTimeouts skipping{milliseconds(2000), milliseconds(5000), milliseconds(10000),
                                &skippingClock};
  const auto send = [&](const std::string& server) {
    try {
      SenderMemory memory;
      ZabbixSender(parseServerList(server).at(0), memory, skipping)
          .send({makeItem("host", "key", std::string("1"))});
      return std::string();
    } catch (const Failure& failure) {
      return failure.message();
    }
  };
  FakeZabbix slowNode(62, [](int, const std::string& request) {
    if (!request.empty()) skippedMilliseconds += 60000;
    return FakeZabbix::failed();
  });
  FakeZabbix nextNode(63, [](int, const std::string&) { return FakeZabbix::success(); });
  const std::string nodes = send("127.0.0.62;127.0.0.63");
  EXPECT_EQ(nodes.substr(nodes.rfind("; ")), "; tempo esgotado antes de 127.0.0.63:10052");
  EXPECT_TRUE(nextNode.requests().empty());

  FakeZabbix slowRedirect(64, [](int, const std::string& request) {
    if (!request.empty()) skippedMilliseconds += 60000;
    return FakeZabbix::Answer{FakeZabbix::frame(
        R"({"redirect":{"revision":1,"address":"127.0.0.64:10061"},"response":"failed"})")};
  });
  FakeZabbix owner(
      64, [](int, const std::string&) { return FakeZabbix::success(); }, 10061);
  EXPECT_EQ(send("127.0.0.64"), "connect 127.0.0.64:10061: tempo esgotado");
  EXPECT_TRUE(owner.requests().empty());

  FakeZabbix lateNode(65, [](int, const std::string& request) {
    if (!request.empty()) skippedMilliseconds += 9500;
    return FakeZabbix::failed();
  });
  FakeZabbix trickling(66, [](int, const std::string&) {
    FakeZabbix::Answer answer = FakeZabbix::success();
    answer.trickle = milliseconds(2500 / static_cast<int>(answer.bytes.size()));
    return answer;
  });
  const std::string late = send("127.0.0.65;127.0.0.66");
  EXPECT_EQ(late.substr(late.rfind("; ")), "; recv 127.0.0.66:10052: tempo esgotado");
}

TEST(ZabbixSender, NoServerIsAFailedSend) {
  EXPECT_EQ(sendOnce("127.0.0.5"), "connect 127.0.0.5:10052: Connection refused");
  EXPECT_EQ(sendOnce("no-such-host.invalid").substr(0, 33), "getaddrinfo no-such-host.invalid:");
}

// Runs body in a child process that sees resolvConf as its /etc/resolv.conf (a private mount
// namespace: root only) and gives what it returned; nothing where that cannot be made.
std::optional<std::string> withResolvConf(const std::string& resolvConf,
                                          const std::function<std::string()>& body) {
  int ends[2];
  if (::geteuid() != 0 || ::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  const Fd readEnd(ends[0]);
  Fd writeEnd(ends[1]);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
      ::_exit(77);
    }
    const std::string result = body();
    const bool written = ::write(writeEnd.get(), result.data(), result.size()) ==
                         static_cast<ssize_t>(result.size());
    ::_exit(written ? 0 : 1);
  }
  writeEnd.reset();
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return result;
}

// A UDP socket on address:53, bound for as long as this lives: nothing where that cannot be made.
Fd boundNameServerSocket(const std::string& address) {
  Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(53);
  ::inet_pton(AF_INET, address.c_str(), &at.sin_addr);
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) socket.reset();
  return socket;
}

// A name server that takes every question and never answers, with a resolv.conf that would wait
// for it two and a half minutes: the lookup ends with the connection's time-out.
TEST(ZabbixSender, ANameServerThatNeverAnswersCostsOneConnectTimeOut) {
  test::TempDir tmp;
  std::ofstream(tmp / "resolv.conf") << "nameserver 127.0.0.20\noptions timeout:30 attempts:5\n";
  const Fd silent = boundNameServerSocket("127.0.0.20");
  if (silent.get() < 0) GTEST_SKIP() << "cannot bind 127.0.0.20:53";
  const std::optional<std::string> message = withResolvConf(tmp / "resolv.conf", [] {
    const SenderTimeouts tight{std::chrono::milliseconds(300), std::chrono::milliseconds(300)};
    try {
      SenderMemory memory;
      ZabbixSender("zabbix.example.net", 10052, memory, tight)
          .send({makeItem("host", "key", std::string("1"))});
      return std::string("delivered");
    } catch (const Failure& failure) {
      return failure.message();
    }
  });
  if (!message) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(*message, "getaddrinfo zabbix.example.net: tempo esgotado");
}

// A name server on address:53 that answers each question for a name it knows with its address
// (A or AAAA, by the address's family) and every other question with no address; questions that
// come together (a lookup's A and AAAA) are answered together, after delay.
class FakeNameServer {
 public:
  FakeNameServer(const std::string& address, std::map<std::string, std::string> names,
                 std::chrono::milliseconds delay = {})
      : names_(std::move(names)), delay_(delay), socket_(boundNameServerSocket(address)) {
    if (socket_.get() >= 0) thread_ = std::thread([this] { serve(); });
  }
  ~FakeNameServer() {
    if (!thread_.joinable()) return;
    stop_.ask();
    thread_.join();
  }
  bool listening() const { return thread_.joinable(); }

 private:
  void serve() {
    for (;;) {
      pollfd p[2] = {{socket_.get(), POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
      if (::poll(p, 2, -1) < 0 || p[1].revents != 0) return;
      std::this_thread::sleep_for(delay_);
      for (;;) {
        unsigned char query[512];
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(socket_.get(), query, sizeof query, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) break;
        if (n < 12) continue;
        const std::string reply = answer(query, static_cast<std::size_t>(n));
        ::sendto(socket_.get(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                 length);
      }
    }
  }

  // The reply: the question as asked, and one answer where the name has an address of the type.
  std::string answer(const unsigned char* query, std::size_t size) const {
    std::string name;
    std::size_t at = 12;
    while (at < size && query[at] != 0) {
      if (!name.empty()) name += '.';
      name.append(reinterpret_cast<const char*>(query + at + 1), query[at]);
      at += query[at] + 1;
    }
    const std::size_t questionEnd = at + 5;
    if (questionEnd > size) return {};
    const int type = query[at + 1] << 8 | query[at + 2];
    unsigned char address[16];
    const auto known = names_.find(name);
    const bool v6 = known != names_.end() && known->second.find(':') != std::string::npos;
    const bool answered = known != names_.end() && type == (v6 ? 28 : 1) &&
                          ::inet_pton(v6 ? AF_INET6 : AF_INET, known->second.c_str(), address) == 1;
    std::string reply(reinterpret_cast<const char*>(query), questionEnd);
    reply[2] = '\x81';  // a response, recursion desired
    reply[3] = '\x80';  // recursion available, no error
    reply[6] = 0;
    reply[7] = answered ? 1 : 0;
    reply.replace(8, 4, 4, '\0');  // no authority, no additional records
    if (answered) {
      const char length = v6 ? 16 : 4;
      reply += std::string("\xc0\x0c\x00", 3) + static_cast<char>(type) +
               std::string("\x00\x01\x00\x00\x00\x3c\x00", 7) + length;
      reply.append(reinterpret_cast<const char*>(address), static_cast<std::size_t>(length));
    }
    return reply;
  }

  std::map<std::string, std::string> names_;
  std::chrono::milliseconds delay_;
  Fd socket_;
  test::StopSignal stop_;
  std::thread thread_;
};

// Names are looked up within the connection's time, which caps c-ares's own time-outs, and
// c-ares acts on its time-outs: a first name server that never answers gives way to the second
// once c-ares's time for it (five seconds) has passed. A name with only an IPv6 address is
// reached on the port asked for.
TEST(ZabbixSender, NamesAreLookedUpWithinTheConnectTime) {
  const Fd silent = boundNameServerSocket("127.0.0.67");
  const FakeNameServer names("127.0.0.68",
                             {{"zabbix.example.net", "127.0.0.69"}, {"v6.example.net", "::1"}});
  const FakeNameServer slow("127.0.0.70", {{"zabbix.example.net", "127.0.0.69"}},
                            std::chrono::milliseconds(2500));
  if (silent.get() < 0 || !names.listening() || !slow.listening()) {
    GTEST_SKIP() << "cannot bind port 53";
  }
  FakeZabbix server(69, [](int, const std::string&) { return FakeZabbix::success(); });
  std::unique_ptr<FakeZabbix> v6;
  try {
    v6 = std::make_unique<FakeZabbix>(
        "::1", [](int, const std::string&) { return FakeZabbix::success(); }, 10070);
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
  const struct {
    const char* name;
    std::string server;
    const char* nameServers;
    int connectMilliseconds;
    std::string message;
  } cases[] = {
      {"the first name server times out", "zabbix.example.net", "127.0.0.67 127.0.0.68", 7000,
       "delivered"},
      {"the connect time ends before the answer", "zabbix.example.net", "127.0.0.70", 1000,
       "getaddrinfo zabbix.example.net: tempo esgotado"},
      {"only IPv6", "v6.example.net:10070", "127.0.0.68", 2000, "delivered"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir tmp;
    std::ofstream resolvConf(tmp / "resolv.conf");
    std::istringstream servers(c.nameServers);
    for (std::string address; servers >> address;) resolvConf << "nameserver " << address << "\n";
    resolvConf.close();
    const std::optional<std::string> message = withResolvConf(tmp / "resolv.conf", [&] {
      const SenderTimeouts timeouts{std::chrono::milliseconds(c.connectMilliseconds),
                                    std::chrono::milliseconds(2000)};
      try {
        SenderMemory memory;
        ZabbixSender(parseServerList(c.server).at(0), memory, timeouts)
            .send({makeItem("host", "key", std::string("1"))});
        return std::string("delivered");
      } catch (const Failure& failure) {
        return failure.message();
      }
    });
    if (!message) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(*message, c.message);
  }
}

TEST(ZabbixSender, ResolvesTheServerTextAndIpv6Literals) {
  FakeZabbix server(6, [](int, const std::string&) { return FakeZabbix::success(); });
  EXPECT_EQ(sendOnce("2130706438"), "");  // 127.0.0.6 as one number
  std::unique_ptr<FakeZabbix> v6;
  try {
    v6 = std::make_unique<FakeZabbix>(
        "::1", [](int, const std::string&) { return FakeZabbix::success(); });
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
  EXPECT_EQ(sendOnce("::1"), "");
  // The same address in the brackets a server list puts around it, with and without the port.
  for (const char* text : {"[::1]", "[::1]:10052"}) {
    SenderMemory memory;
    ZabbixSender(parseServerList(text).at(0), memory, kShort)
        .send({makeItem("host", "key", std::string("1"))});
  }
  EXPECT_EQ(v6->requests().size(), 3u);
}

}  // namespace
}  // namespace bm

namespace bm {
namespace {

// Servers that misbehave in time or in framing: each costs one failed send, bounded by the
// time-outs, and nothing is allocated for what a header merely announces.
TEST(ZabbixSender, HostileServersCostOneBoundedFailedSend) {
  using Answer = FakeZabbix::Answer;
  using std::chrono::milliseconds;
  const std::string peer = "127.0.0.7:10052";
  const std::string success = FakeZabbix::success().bytes;
  Answer trickle{success};
  trickle.trickle = milliseconds(100);
  Answer reset{success.substr(0, 10)};
  reset.reset = true;
  Answer unread;
  unread.readRequest = false;
  const struct {
    const char* name;
    Answer answer;
    std::string message;
  } cases[] = {
      {"one byte at a time, too slowly", trickle, "recv " + peer + ": tempo esgotado"},
      {"reset in the middle of the reply", reset, "recv " + peer + ": Connection reset by peer"},
      {"a reply, then the connection held open", Answer{success, true}, ""},
      {"a reply, then more bytes", Answer{success + "ZBXD\x01 trailing garbage"}, ""},
      {"above the size cap", Answer{std::string("ZBXD\x01\x01\0\0\x01\0\0\0\0", 13), true},
       "resposta de " + peer + " anuncia 16777217 bytes, acima de 16 MiB"},
      {"large packet flag", Answer{FakeZabbix::frame("{}", 0x05)},
       "resposta de " + peer + " com flags 5 (esperado 1)"},
      {"no protocol flag", Answer{FakeZabbix::frame("{}", 0x00)},
       "resposta de " + peer + " com flags 0 (esperado 1)"},
      {"length zero", Answer{FakeZabbix::frame("")}, "resposta de " + peer + ": "},
      // A small request fits the socket buffers: then no reply comes.
      {"request never read", unread, "recv " + peer + ": tempo esgotado"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeZabbix server(7, [&](int, const std::string&) { return c.answer; });
    EXPECT_EQ(sendOnce("127.0.0.7"), c.message);
  }
}

TEST(ZabbixSender, ALargeRequestNobodyReadsTimesOut) {
  FakeZabbix::Answer unread;
  unread.readRequest = false;
  FakeZabbix server(8, [&](int, const std::string&) { return unread; });
  // More than loopback's socket buffers hold.
  const std::string document(64 * 1024 * 1024, 'x');
  try {
    SenderMemory memory;
    ZabbixSender("127.0.0.8", 10052, memory, kShort).send({makeItem("h", "k", document)});
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message(), "send 127.0.0.8:10052: tempo esgotado");
  }
}

}  // namespace
}  // namespace bm
