#include "zabbix/delivery.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/capture.hpp"
#include "support/fake_zabbix.hpp"
#include "support/log_socket.hpp"
#include "support/run.hpp"
#include "support/temp_dir.hpp"
#include "zabbix/tls.hpp"
#include "zabbix/tls_settings.hpp"

namespace bm {
namespace {

using test::FakeZabbix;

std::string retryLine(const std::string& server, int attempt) {
  return "Falha no envio ao Zabbix: " + server + " - Tentativa número " + std::to_string(attempt) +
         ", tentando novamente em 5 segundos.\n";
}

// send_zabbix with its pauses recorded instead of slept.
struct Recorded {
  std::string out;
  std::vector<int> pauses;
};

std::string retryLines(const std::string& server) {
  std::string lines;
  for (int attempt = 1; attempt <= 5; ++attempt) lines += retryLine(server, attempt);
  return lines;
}

Recorded sendRecorded(const std::string& server, int calls = 1) {
  Recorded recorded;
  DeliveryOptions options;
  options.pause = [&](std::chrono::seconds s) { recorded.pauses.push_back(int(s.count())); };
  options.timeouts = {std::chrono::milliseconds(2000), std::chrono::milliseconds(2000)};
  test::CapturedStdout out;
  SystemLog log("");
  {
    Delivery delivery(log, "", options);
    for (int i = 0; i < calls; ++i) delivery.send_zabbix(server, "HOST", "key", std::string("v"));
  }
  recorded.out = out.text();
  return recorded;
}

TEST(SendZabbix, FirstAttemptSucceedsSilentlyWithoutPause) {
  FakeZabbix server(21, [](int, const std::string&) { return FakeZabbix::success(); });
  const Recorded r = sendRecorded("127.0.0.21");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.pauses.empty());
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(FakeZabbix::body(server.requests()[0]),
            R"({"request":"sender data","data":[{"host":"HOST","key":"key","value":"v"}]})");
}

TEST(SendZabbix, SucceedsOnTheThirdAttemptAfterTwoRetryLines) {
  FakeZabbix server(22, [](int connection, const std::string&) {
    return connection < 2 ? FakeZabbix::closeAtOnce() : FakeZabbix::success();
  });
  const Recorded r = sendRecorded("127.0.0.22");
  EXPECT_EQ(r.out, retryLine("127.0.0.22", 1) + retryLine("127.0.0.22", 2));
  EXPECT_EQ(r.pauses, (std::vector<int>{5, 5}));
  EXPECT_EQ(server.requests().size(), 3u);
}

TEST(SendZabbix, GivesUpAfterTheFifthFailureWhichAlsoPrintsAndPauses) {
  FakeZabbix server(23, [](int, const std::string&) { return FakeZabbix::failed(); });
  const Recorded r = sendRecorded("127.0.0.23");
  std::string lines;
  for (int attempt = 1; attempt <= 5; ++attempt) lines += retryLine("127.0.0.23", attempt);
  EXPECT_EQ(r.out, lines);
  EXPECT_EQ(r.pauses, (std::vector<int>{5, 5, 5, 5, 5}));
  EXPECT_EQ(server.requests().size(), 5u);
}

TEST(SendZabbix, TwoCallsDoNotShareAttempts) {
  FakeZabbix server(24, [](int, const std::string&) { return FakeZabbix::closeAtOnce(); });
  const Recorded r = sendRecorded("127.0.0.24", 2);
  std::string lines;
  for (int attempt = 1; attempt <= 5; ++attempt) lines += retryLine("127.0.0.24", attempt);
  EXPECT_EQ(r.out, lines + lines);
  EXPECT_EQ(r.pauses.size(), 10u);
  EXPECT_EQ(server.requests().size(), 10u);
}

TEST(SendZabbix, RetryLineShowsTheServerAsTyped) {
  // 2130706457 is 127.0.0.25 written as one number: resolved to connect, shown unchanged.
  FakeZabbix server(25, [](int connection, const std::string&) {
    return connection == 0 ? FakeZabbix::failed() : FakeZabbix::success();
  });
  EXPECT_EQ(sendRecorded("2130706457").out, retryLine("2130706457", 1));
}

// "success" with values counted as failed: the server took the request and refused the value.
// One line says so, naming the server, host, key and the server's words; no retry, no pause.
// A success without Zabbix's counts refuses nothing and prints nothing; the server's words are
// cut at 512 bytes, never inside a character.
TEST(SendZabbix, AValueTheServerRefusesIsReportedOnceWithoutRetry) {
  const std::string padded = "processed: 0; failed: 1; total: 1; " + std::string(476, 'x');
  const struct {
    const char* name;
    std::string info;
    std::string shown;  // on the line; none when the value was taken
  } cases[] = {
      {"refused", "processed: 0; failed: 1; total: 1; seconds spent: 0.000031",
       "processed: 0; failed: 1; total: 1; seconds spent: 0.000031"},
      {"taken, a zero written twice", "processed: 1; failed: 00; total: 1", ""},
      {"failed counted later, not first", "processed: 0; failed: 0x; total: 1; failed: 1", ""},
      {"no count at all", "tudo certo", ""},
      {"nothing said", "", ""},
      {"cut before a character that crosses 512 bytes", padded + "\u00e9tail", padded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeZabbix server(10, [&](int connection, const std::string&) {
      if (connection == 1) return FakeZabbix::success();
      return FakeZabbix::Answer{
          FakeZabbix::frame(R"({"response":"success","info":")" + c.info + R"("})")};
    });
    const Recorded r = sendRecorded("127.0.0.10", 2);
    EXPECT_EQ(r.out, c.shown.empty() ? ""
                                     : "Zabbix recusou o valor: 127.0.0.10 - host 'HOST', item "
                                       "'key': " +
                                           c.shown + "\n");
    EXPECT_TRUE(r.pauses.empty());
    EXPECT_EQ(server.requests().size(), 2u);
  }
}

// The operator's second channel: why each attempt failed (a refused connection, a TLS handshake
// the server ended), what the server refused in its own words, each value given up, and one
// summary for the run.
TEST(SendZabbix, TellsTheSystemLogWhyAndWhatWasGivenUp) {
  FakeZabbix refusing(9, [](int, const std::string&) {
    return FakeZabbix::Answer{
        FakeZabbix::frame(R"({"response":"success","info":"processed: 0; failed: 1; total: 1"})")};
  });
  FakeZabbix plainOnly(11, [](int, const std::string&) {
    FakeZabbix::Answer answer;
    answer.readAny = true;  // the TLS client's hello, then the connection closes
    return answer;
  });
  const test::TempDir keys;
  std::ofstream(keys / "psk") << "00112233445566778899aabbccddeeff\n";
  ::chmod((keys / "psk").c_str(), 0600);
  TlsSettings settings;
  settings.mode = TlsSettings::Mode::Psk;
  settings.pskIdentity = "backups";
  settings.pskFile = keys / "psk";
  const TlsContext tls(settings);
  test::LogSocket socket;
  {
    const test::CapturedStdout quiet;
    SystemLog log(socket.path());
    DeliveryOptions options;
    options.pause = [](std::chrono::seconds) {};
    options.timeouts = {std::chrono::milliseconds(2000), std::chrono::milliseconds(2000)};
    Delivery plain(log, "", options);
    plain.send_zabbix("127.0.0.12", "HOST", "k1", 1.5);  // nothing listens there
    options.tls = &tls;
    Delivery encrypted(log, "", options);
    encrypted.send_zabbix("127.0.0.11", "HOST", "k2", 2.5);
    plain.send_zabbix("127.0.0.9", "HOST", "k3", 3.5);
  }
  std::vector<std::string> expected;
  const auto givenUp = [&](const std::string& server, const std::string& key,
                           const std::string& why) {
    const std::string value = "servidor " + server + ", host 'HOST', item '" + key + "'";
    for (int i = 1; i <= 5; ++i) {
      expected.push_back("<12>tentativa " + std::to_string(i) + " de 5 falhou: " + value + ": " +
                         why);
    }
    expected.push_back("<11>valor não entregue após 5 tentativas: " + value);
  };
  givenUp("127.0.0.12", "k1", "connect 127.0.0.12:10052: Connection refused");
  givenUp("127.0.0.11", "k2", "TLS 127.0.0.11:10052: conexão fechada no handshake");
  expected.push_back(
      "<12>Zabbix recusou o valor: servidor 127.0.0.9, host 'HOST', item 'k3': processed: 0; "
      "failed: 1; total: 1");
  // Each run writes its summary as it ends, the last one made first.
  expected.push_back("<12>: 0 entregues, 0 recusados, 1 não entregues");
  expected.push_back("<12>: 0 entregues, 1 recusados, 1 não entregues");
  EXPECT_EQ(socket.lines(), expected);
}

// Twenty detail lines a run, the others only counted in the summary, whose severity says whether
// anything was refused or given up; the server's words escaped, so that a line break in them
// cannot forge a line of its own. The console likewise shows twenty refusals, then one line that
// counts them all; a reply without counts is a notice in the log and nothing on the console.
TEST(SendZabbix, TheSystemLogKeepsTwentyDetailLinesAndCountsTheRest) {
  const std::string refused = "processed: 0; failed: 1; total: 1";
  const std::string detail =
      "<12>Zabbix recusou o valor: servidor 127.0.0.60, host 'HOST', item 'key': " + refused;
  const std::string consoleLine =
      "Zabbix recusou o valor: 127.0.0.60 - host 'HOST', item 'key': " + refused;
  const struct {
    const char* name;
    int values;
    std::string info;
    std::size_t details;  // how many detail lines are written, each the same
    std::string shown;
    std::string summary;
    std::string lastOut;  // the console's last line
  } cases[] = {
      {"twenty refused", 20, refused, 20, detail,
       "<12>coletarData: 0 entregues, 20 recusados, 0 não entregues", consoleLine},
      {"twenty-one refused", 21, refused, 20, detail,
       "<12>coletarData: 0 entregues, 21 recusados, 0 não entregues; mais 1 linhas de detalhe "
       "omitidas",
       "Zabbix recusou 21 valores nesta execução; mais 1 linhas de recusa omitidas"},
      {"taken", 2, "processed: 1; failed: 0; total: 1", 0, "",
       "<14>coletarData: 2 entregues, 0 recusados, 0 não entregues", ""},
      {"a line break in the server's words", 1, refused + "\\nFalha forjada", 1,
       detail + "\\x0aFalha forjada", "<12>coletarData: 0 entregues, 1 recusados, 0 não entregues",
       consoleLine + "\\x0aFalha forjada"},
      {"no count", 2, "", 2,
       "<13>Zabbix aceitou sem dizer quantos valores processou: servidor 127.0.0.60, host "
       "'HOST', item 'key': ",
       "<14>coletarData: 2 entregues, 0 recusados, 0 não entregues", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeZabbix server(60, [&](int, const std::string&) {
      return FakeZabbix::Answer{
          FakeZabbix::frame(R"({"response":"success","info":")" + c.info + R"("})")};
    });
    test::LogSocket socket;
    {
      const test::CapturedStdout out;
      SystemLog log(socket.path());
      DeliveryOptions options;
      options.pause = [](std::chrono::seconds) {};
      {
        Delivery delivery(log, "coletarData", options);
        for (int i = 0; i < c.values; ++i) {
          delivery.send_zabbix("127.0.0.60", "HOST", "key", std::string("v"));
        }
        delivery.flush();
      }
      std::istringstream text(out.text());
      std::vector<std::string> lines;
      for (std::string line; std::getline(text, line);) lines.push_back(line);
      const std::size_t refusals = c.lastOut.empty() ? 0 : std::min(c.values, 20) + (c.values > 20);
      EXPECT_EQ(lines.size(), refusals);
      EXPECT_EQ(lines.empty() ? "" : lines.back(), c.lastOut);
    }
    std::vector<std::string> expected(c.details, c.shown);
    expected.push_back(c.summary);
    EXPECT_EQ(socket.lines(), expected);
  }
}

// Batched, a request is one send: its five attempts and retry lines whatever goes wrong (a closed
// port, a reply that never comes), one line for what the server did not take, and the values'
// fate counted one by one in the summary.
TEST(SendZabbix, ABatchIsOneSendWithAttemptsOfItsOwn) {
  using Answer = FakeZabbix::Answer;
  const auto info = [](const std::string& text) {
    return Answer{FakeZabbix::frame(R"({"response":"success","info":")" + text + R"("})")};
  };
  const struct {
    const char* name;
    std::function<Answer(int)> server;  // none: nothing listens
    std::string out;
    std::size_t requests;
    std::string summary;
  } cases[] = {
      {"taken", [&](int) { return FakeZabbix::success(); }, "", 2,
       "<14>: 3 entregues, 0 recusados, 0 não entregues"},
      {"closed port", nullptr, retryLines("127.0.0.71") + retryLines("127.0.0.71"), 0,
       "<12>: 0 entregues, 0 recusados, 3 não entregues"},
      {"no reply", [](int) { return FakeZabbix::silent(); },
       retryLines("127.0.0.71") + retryLines("127.0.0.71"), 10,
       "<12>: 0 entregues, 0 recusados, 3 não entregues"},
      {"taken at the third attempt",
       [](int connection) {
         return connection < 2 ? FakeZabbix::closeAtOnce() : FakeZabbix::success();
       },
       retryLine("127.0.0.71", 1) + retryLine("127.0.0.71", 2), 4,
       "<14>: 3 entregues, 0 recusados, 0 não entregues"},
      {"no count", [&](int) { return info("tudo certo"); }, "", 2,
       "<14>: 3 entregues, 0 recusados, 0 não entregues"},
      {"more refused than sent", [&](int) { return info("processed: 0; failed: 9; total: 9"); },
       "Zabbix recusou 9 de 2 valores: 127.0.0.71 - host 'HOST', itens 'k1' a 'k2': processed: "
       "0; failed: 9; total: 9\n"
       "Zabbix recusou o valor: 127.0.0.71 - host 'HOST', item 'k3': processed: 0; failed: 9; "
       "total: 9\n",
       2, "<12>: 0 entregues, 3 recusados, 0 não entregues"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<FakeZabbix> server;
    if (c.server) {
      server = std::make_unique<FakeZabbix>(
          71, [&](int connection, const std::string&) { return c.server(connection); });
    }
    test::LogSocket socket;
    Recorded r;
    {
      test::CapturedStdout out;
      SystemLog log(socket.path());
      DeliveryOptions options;
      options.pause = [&](std::chrono::seconds s) { r.pauses.push_back(int(s.count())); };
      options.timeouts = {std::chrono::milliseconds(2000), std::chrono::milliseconds(300)};
      options.batch = 2;
      {
        Delivery delivery(log, "", options);
        for (const char* key : {"k1", "k2", "k3"}) {
          delivery.send_zabbix("127.0.0.71", "HOST", key, std::string("v"));
        }
        delivery.flush();
      }
      r.out = out.text();
    }
    EXPECT_EQ(r.out, c.out);
    std::size_t retries = 0;
    for (std::size_t at = 0; (at = c.out.find("Falha no envio", at)) != std::string::npos; ++at) {
      ++retries;
    }
    EXPECT_EQ(r.pauses.size(), retries);
    EXPECT_EQ(server ? server->requests().size() : 0u, c.requests);
    const std::vector<std::string> lines = socket.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), c.summary);
  }
}

TEST(SendZabbix, EachServerOfAListGetsTheValueWithAttemptsOfItsOwn) {
  FakeZabbix first(26, [](int, const std::string&) { return FakeZabbix::success(); });
  FakeZabbix second(
      26, [](int, const std::string&) { return FakeZabbix::success(); }, 10051);
  const Recorded r = sendRecorded("127.0.0.26,host:porta,127.0.0.26:10051");
  EXPECT_EQ(r.out, retryLines("host:porta"));
  EXPECT_EQ(r.pauses.size(), 5u);
  EXPECT_EQ(first.requests().size(), 1u);
  EXPECT_EQ(second.requests().size(), 1u);
}

TEST(SendZabbix, AClusterDeliversToTheNodeThatAnswersAndTriesItFirstNextTime) {
  FakeZabbix standby(27, [](int, const std::string&) { return FakeZabbix::closeAtOnce(); });
  FakeZabbix active(28, [](int connection, const std::string&) {
    return connection < 2 ? FakeZabbix::success() : FakeZabbix::failed();
  });
  const std::string cluster = "127.0.0.27;127.0.0.28:10052";
  EXPECT_EQ(sendRecorded(cluster, 2).out, "");
  EXPECT_EQ(standby.requests().size(), 1u);
  EXPECT_EQ(active.requests().size(), 2u);
  // Every node failing is one failed attempt, named by the whole list.
  const Recorded r = sendRecorded(cluster);
  EXPECT_EQ(r.out, retryLines(cluster));
  EXPECT_EQ(standby.requests().size(), 6u);
  EXPECT_EQ(active.requests().size(), 7u);
}

TEST(SendZabbix, AServerTextThatCannotBeReadFailsEveryAttempt) {
  std::string thousands = "127.0.0.29";
  for (int i = 0; i < 10000; ++i) thousands += ",127.0.0.29";
  for (const std::string& server :
       {std::string("host:porta"), std::string("[::1"), std::string("127.0.0.29:65536"),
        std::string("127.0.0.29:10052x"), std::string(";;;"), thousands}) {
    SCOPED_TRACE(server.substr(0, 40));
    FakeZabbix unused(29, [](int, const std::string&) { return FakeZabbix::success(); });
    const Recorded r = sendRecorded(server);
    EXPECT_EQ(r.out, retryLines(server));
    EXPECT_EQ(r.pauses.size(), 5u);
    EXPECT_TRUE(unused.requests().empty());
  }
}

#if !defined(__SANITIZE_ADDRESS__)
// A request that cannot be built is not a failed send: the failure leaves send_zabbix at once,
// for main's failure report, instead of five retry lines. Memory is made to run out in a child
// process: a value of 64 MiB of '"' fits, its request of 128 MiB does not.
TEST(SendZabbix, ARequestThatCannotBeBuiltIsNotRetried) {
  const pid_t child = ::fork();
  if (child == 0) {
    std::ifstream status("/proc/self/status");
    long vmKib = 0;
    for (std::string field; status >> field;) {
      if (field == "VmSize:") status >> vmKib;
    }
    const rlimit limit{static_cast<rlim_t>(vmKib + 160 * 1024) * 1024,
                       static_cast<rlim_t>(vmKib + 160 * 1024) * 1024};
    ::setrlimit(RLIMIT_AS, &limit);
    DeliveryOptions options;
    options.pause = [](std::chrono::seconds) {};
    SystemLog log("");
    Delivery delivery(log, "", options);
    try {
      delivery.send_zabbix("127.0.0.29", "HOST", "key", std::string(64 << 20, '"'));
    } catch (const std::bad_alloc&) {
      ::_exit(0);
    }
    ::_exit(1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

}  // namespace
}  // namespace bm
