// Both reports delivering to a fake Zabbix server, and a launched report delivering alone.
#include <gtest/gtest.h>
#include <regex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "e2e.hpp"
#include "support/archives.hpp"
#include "support/fake_zabbix.hpp"

namespace bm::test {
namespace {

std::string senderData(const std::string& host, const std::string& key, const std::string& value) {
  return R"({"request":"sender data","data":[{"host":")" + host + R"(","key":")" + key +
         R"(","value":")" + value + R"("}]})";
}

double wallClock() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

FakeZabbix::Script alwaysSuccess() {
  return [](int, const std::string&) { return FakeZabbix::success(); };
}

TEST(Delivery, DiscoveryDeliversTheDocumentThenPrintsOk) {
  TempDir tmp;
  const std::string dir = tmp / "huawei";
  makeDirectory(dir);
  makeFile(dir + "/2024-03-05.cfg.core-sw1.zip");
  makeFile(dir + "/2024-03-07.cfg.sw,1.zip");
  FakeZabbix server(40, alwaysSuccess());
  EXPECT_EQ(describe(runAgent({"descobertaBackups", dir, "127.0.0.40", "Debug"})),
            expected(0, "OK\n"));
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string document =
      R"({\"data\": [{\"{#NOME_HOST}\": \"SW,1\", \"{#DATA_HOST}\": \"2024-03-07\"}, )"
      R"({\"{#NOME_HOST}\": \"CORE-SW1\", \"{#DATA_HOST}\": \"2024-03-05\"}]})";
  EXPECT_EQ(requests[0], FakeZabbix::frame(senderData("Debug", "descobertaBackups", document)));
}

// With an inventory, discovery sends after its document what the inventory and the directory
// disagree on; an inventory that cannot be used ends the run before anything is sent.
TEST(Delivery, DiscoveryWithAnInventorySendsItsGapsAfterTheDocument) {
  TempDir tmp;
  const std::string dir = tmp / "huawei";
  makeDirectory(dir);
  makeFile(dir + "/2024-03-05.cfg.core-sw1.zip");
  makeFile(dir + "/2024-03-07.cfg.lab-x.zip");
  std::ofstream(tmp / "inventory") << "core-sw1\nsw9\nsão-paulo\n";
  std::ofstream(tmp / "bad") << "core-sw1\nsw9 são-paulo\n";
  FakeZabbix server(58, alwaysSuccess());
  RunOptions options;
  options.env = {{"BACKUP_MONITOR_INVENTORY", tmp / "inventory"}};
  EXPECT_EQ(describe(runAgent({"descobertaBackups", dir, "127.0.0.58", "backups"}, options)),
            expected(0, "OK\n"));
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(FakeZabbix::body(requests[0]),
            senderData("backups", "descobertaBackups",
                       R"({\"data\": [{\"{#NOME_HOST}\": \"LAB-X\", \"{#DATA_HOST}\": )"
                       R"(\"2024-03-07\"}, {\"{#NOME_HOST}\": \"CORE-SW1\", \"{#DATA_HOST}\": )"
                       R"(\"2024-03-05\"}]})"));
  EXPECT_EQ(FakeZabbix::body(requests[1]),
            senderData("backups", "inventarioBackups",
                       R"({\"esperados\":3,\"semBackup\":2,\"foraDoInventario\":1,\"data\":[)"
                       R"({\"nome\":\"SW9\",\"estado\":1},{\"nome\":\"S\\u00c3O-PAULO\",)"
                       R"(\"estado\":1},{\"nome\":\"LAB-X\",\"estado\":2}]})"));

  options.env = {{"BACKUP_MONITOR_INVENTORY", tmp / "bad"}};
  EXPECT_EQ(describe(runAgent({"descobertaBackups", dir, "127.0.0.58", "backups"}, options)),
            expected(1, "",
                     failureReport("ConfiguracaoInvalida",
                                   "BACKUP_MONITOR_INVENTORY: '" + (tmp / "bad") +
                                       "', linha 2: 'sw9 são-paulo' não entendida: o arquivo é "
                                       "uma lista (um nome de equipamento por linha)",
                                   "notUnderstood", "src/catalogue/inventory.cpp")));
  EXPECT_EQ(server.requests().size(), 2u);
}

// A reply of "success" that counts the value as failed (an unknown host, say) is said once;
// discovery still ends with OK and status 0.
TEST(Delivery, AValueZabbixRefusesIsSaidAndTheReportGoesOn) {
  TempDir tmp;
  const std::string info = "processed: 0; failed: 1; total: 1; seconds spent: 0.000022";
  FakeZabbix server(50, [&](int, const std::string&) {
    return FakeZabbix::Answer{
        FakeZabbix::frame(R"({"response":"success","info":")" + info + R"("})")};
  });
  EXPECT_EQ(describe(runAgent({"descobertaBackups", tmp.path(), "127.0.0.50", "no-such-host"})),
            expected(0,
                     "Zabbix recusou o valor: 127.0.0.50 - host 'no-such-host', item "
                     "'descobertaBackups': " +
                         info + "\nOK\n"));
}

// One of the two tests that wait through real pauses: five of them, 25 seconds.
TEST(Delivery, DiscoveryStillEndsWithOkAfterFiveFailedAttempts) {
  TempDir tmp;
  FakeZabbix server(46, [](int, const std::string&) { return FakeZabbix::failed(); });
  std::string lines;
  for (int attempt = 1; attempt <= 5; ++attempt) {
    lines += "Falha no envio ao Zabbix: 127.0.0.46 - Tentativa número " + std::to_string(attempt) +
             ", tentando novamente em 5 segundos.\n";
  }
  EXPECT_EQ(describe(runAgent({"descobertaBackups", tmp.path(), "127.0.0.46", "backups"})),
            expected(0, lines + "OK\n"));
  EXPECT_EQ(server.requests().size(), 5u);
}

TEST(Delivery, DiscoveryOfAnEmptyDirectoryWithTheServerAsHost) {
  TempDir tmp;
  FakeZabbix server(41, alwaysSuccess());
  EXPECT_EQ(describe(runAgent({"descobertaBackups", tmp.path(), "127.0.0.41"})),
            expected(0, "OK\n"));
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(FakeZabbix::body(server.requests()[0]),
            senderData("127.0.0.41", "descobertaBackups", R"({\"data\": []})"));
}

TEST(Delivery, CollectionSendsOneAgePerHostUnderTheKeysTheServerMade) {
  TempDir tmp;
  const std::string dir = tmp / "huawei";
  makeDirectory(dir);
  for (const char* name : {"2024-03-05.c.sw,1", "2024-03-05.c.[sw1", "2024-03-05.c.\"q\"",
                           "2024-03-05.c.sw]1", "2024-03-05.c.são-paulo", "2024-03-05.c.sw[1"}) {
    makeFile(dir + "/" + name, 1700000000, 500000000);
  }
  FakeZabbix server(42, alwaysSuccess());
  const double before = wallClock();
  const RunResult r = runAgent({"coletarData", dir, "127.0.0.42", "backups"});
  const double after = wallClock();
  EXPECT_EQ(describe(r), expected(0, ""));
  // Host names in code point order; the quoted ones as the server quoted them.
  const std::vector<std::string> keys = {R"(ultimaModificacao[\"\\\"Q\\\"\"])",
                                         R"(ultimaModificacao[\"SW,1\"])",
                                         "ultimaModificacao[SW[1]",
                                         R"(ultimaModificacao[\"SW]1\"])",
                                         "ultimaModificacao[SÃO-PAULO]",
                                         R"(ultimaModificacao[\"[SW1\"])"};
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    SCOPED_TRACE(keys[i]);
    const std::string body = FakeZabbix::body(requests[i]);
    const std::string prefix = R"({"request":"sender data","data":[{"host":"backups","key":")" +
                               keys[i] + R"(","value":")";
    ASSERT_EQ(body.substr(0, prefix.size()), prefix);
    ASSERT_EQ(body.substr(body.size() - 4), R"("}]})");
    char* end = nullptr;
    const double age = std::strtod(body.c_str() + prefix.size(), &end);
    EXPECT_EQ(end, body.c_str() + body.size() - 4);
    EXPECT_GE(age, before - 1700000000.5 - 0.001);
    EXPECT_LE(age, after - 1700000000.5 + 0.001);
  }
}

// With BACKUP_MONITOR_BATCH=N every report sends its values in requests of up to N, in report
// order, each value with the clock and nanoseconds of the moment the report took it.
TEST(Delivery, BatchedReportsSendUpToNValuesPerRequestEachWithItsClock) {
  TempDir tmp;
  const std::string dir = tmp / "huawei";
  makeDirectory(dir);
  for (const char* host : {"a", "b", "c", "d", "e"}) {
    makeFile(dir + "/2024-03-05.cfg." + host, 1700000000);
  }
  FakeZabbix server(53, alwaysSuccess());
  RunOptions options;
  options.env = {{"BACKUP_MONITOR_BATCH", "2"}};
  const struct {
    const char* mode;
    const char* out;
    std::vector<std::vector<std::string>> keys;  // of each request
  } cases[] = {
      {"descobertaBackups", "OK\n", {{"descobertaBackups"}}},
      {"coletarData",
       "",
       {{"ultimaModificacao[A]", "ultimaModificacao[B]"},
        {"ultimaModificacao[C]", "ultimaModificacao[D]"},
        {"ultimaModificacao[E]"}}},
      {"coletarSaude",
       "",
       {{"saudeBackup[A]", "saudeBackup[B]"},
        {"saudeBackup[C]", "saudeBackup[D]"},
        {"saudeBackup[E]"}}},
  };
  std::size_t seen = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const auto before = static_cast<long long>(wallClock());
    EXPECT_EQ(describe(runAgent({c.mode, dir, "127.0.0.53", "backups"}, options)),
              expected(0, c.out));
    const auto after = static_cast<long long>(wallClock());
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), seen + c.keys.size());
    for (std::size_t r = 0; r < c.keys.size(); ++r) {
      const auto request = nlohmann::json::parse(FakeZabbix::body(requests[seen + r]));
      EXPECT_EQ(request.size(), 2u);  // the request and its data: no clock of its own
      ASSERT_EQ(request["data"].size(), c.keys[r].size());
      for (std::size_t v = 0; v < c.keys[r].size(); ++v) {
        const auto& value = request["data"][v];
        EXPECT_EQ(value["host"], "backups");
        EXPECT_EQ(value["key"], c.keys[r][v]);
        EXPECT_GE(value["clock"].get<long long>(), before);
        EXPECT_LE(value["clock"].get<long long>(), after);
        EXPECT_GE(value["ns"].get<long long>(), 0);
        EXPECT_LE(value["ns"].get<long long>(), 999999999);
      }
    }
    seen = requests.size();
  }
}

// A request whose reply counts refused values is said once, naming the server, the host and the
// request's first and last keys, and never sent again: Zabbix would store its values twice.
TEST(Delivery, ABatchWithRefusedValuesIsSaidOnceAndNotSentAgain) {
  TempDir tmp;
  const std::string dir = tmp / "huawei";
  makeDirectory(dir);
  for (const char* host : {"c", "a", "b"}) makeFile(dir + "/2024-03-05.cfg." + host, 1700000000);
  const std::string info = "processed: 1; failed: 2; total: 3; seconds spent: 0.000040";
  FakeZabbix server(54, [&](int, const std::string&) {
    return FakeZabbix::Answer{
        FakeZabbix::frame(R"({"response":"success","info":")" + info + R"("})")};
  });
  RunOptions options;
  options.env = {{"BACKUP_MONITOR_BATCH", "10000"}};
  EXPECT_EQ(describe(runAgent({"coletarData", dir, "127.0.0.54", "backups"}, options)),
            expected(0,
                     "Zabbix recusou 2 de 3 valores: 127.0.0.54 - host 'backups', itens "
                     "'ultimaModificacao[A]' a 'ultimaModificacao[C]': " +
                         info + "\n"));
  EXPECT_EQ(server.requests().size(), 1u);
}

// Anything but a whole number from 1 to 10000 ends the run before anything is sent.
TEST(Delivery, ABatchSizeThatCannotBeReadEndsTheRunBeforeAnySend) {
  TempDir tmp;
  makeFile(tmp / "router1", 1700000000);
  FakeZabbix server(55, alwaysSuccess());
  for (const std::string size : {"0", "10001", "99999999999", "abc", "1.5", " 5", "-1", "5x"}) {
    SCOPED_TRACE(size);
    RunOptions options;
    options.env = {{"BACKUP_MONITOR_BATCH", size}};
    EXPECT_EQ(describe(runAgent({"coletarData", tmp.path(), "127.0.0.55", "backups"}, options)),
              expected(1, "",
                       failureReport("ConfiguracaoInvalida",
                                     "BACKUP_MONITOR_BATCH: valor '" + size +
                                         "' inválido; use um número inteiro de 1 a 10000",
                                     "readBatchSize", "src/zabbix/delivery.cpp")));
  }
  EXPECT_TRUE(server.requests().empty());
}

// Each backup's content goes to "saudeBackup[HOST]", keyed as the ages are, as one line of JSON
// inside the request's own.
TEST(Delivery, HealthSendsOneValuePerHostUnderTheKeysTheServerMade) {
  TempDir tmp;
  const std::string dir = tmp / "huawei";
  makeDirectory(dir);
  std::ofstream(dir + "/2024-03-05.c.sw,1") << "config A\n";
  makeDirectory(dir + "/2024-03-05.c.sw2");
  FakeZabbix server(52, alwaysSuccess());
  EXPECT_EQ(describe(runAgent({"coletarSaude", dir, "127.0.0.52", "backups"})), expected(0, ""));
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(FakeZabbix::body(requests[0]),
            senderData("backups", R"(saudeBackup[\"SW,1\"])",
                       R"({\"bytes\":9,\"sha256\":\"6f3ac7d6c406f65a583b0c411cca8da7d1048f6a7a25)"
                       R"(2aa961a27dd07184d6ce\"})"));
  EXPECT_EQ(FakeZabbix::body(requests[1]),
            senderData("backups", "saudeBackup[SW2]",
                       R"({\"bytes\":0,\"error\":\"não é um arquivo regular\"})"));
}

// Why regcomp refuses an expression, in this C library's words.
std::string regexReason(const std::string& expression) {
  regex_t compiled;
  const int result = ::regcomp(&compiled, expression.c_str(), REG_EXTENDED | REG_NOSUB);
  char reason[256];
  ::regerror(result, &compiled, reason, sizeof reason);
  return reason;
}

// An incomplete backup's value says why after its digest; a last-line pattern that is not an
// expression ends the run before anything is sent.
TEST(Delivery, HealthSaysWhyABackupIsIncomplete) {
  TempDir tmp;
  const std::string zip = zipArchive({{"running.cfg", "hostname sw1\nend\n"}});
  std::ofstream(tmp / "sw1", std::ios::binary) << zip.substr(0, zip.size() - 30);
  FakeZabbix server(57, alwaysSuccess());
  RunOptions options;
  options.env = {{"BACKUP_MONITOR_LAST_LINE", "^end$"}};
  EXPECT_EQ(describe(runAgent({"coletarSaude", tmp.path(), "127.0.0.57", "backups"}, options)),
            expected(0, ""));
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(
      FakeZabbix::body(server.requests()[0]),
      senderData("backups", "saudeBackup[SW1]",
                 R"({\"bytes\":109,\"sha256\":\"c507fc717edff88173d3cf3ec7588f67de48a85b3e67)"
                 R"(358dd38a55f872e1ac57\",\"incomplete\":\"zip cortado no diretório central\"})"));

  options.env = {{"BACKUP_MONITOR_LAST_LINE", "(end"}};
  EXPECT_EQ(describe(runAgent({"coletarSaude", tmp.path(), "127.0.0.57", "backups"}, options)),
            expected(1, "",
                     failureReport("ConfiguracaoInvalida",
                                   "BACKUP_MONITOR_LAST_LINE: expressão '(end' inválida: " +
                                       regexReason("(end"),
                                   "LastLinePattern", "src/catalogue/completeness.cpp")));
  EXPECT_EQ(server.requests().size(), 1u);
}

// What the fleet must not miss reaches Zabbix: the health value of a host whose files' names
// merge two devices names the newest file of each, in ASCII whatever its bytes; a collection
// that finds no backup at all says 0 devices instead of nothing.
TEST(Delivery, MergedNamesAndAnEmptyDirectoryAreDelivered) {
  TempDir tmp;
  const std::string dir = tmp / "huawei";
  makeDirectory(dir);
  for (const char* name :
       {"2024-03-05.cfg.sw01.poa.example.net.cfg", "2024-03-01.cfg.sw01.s\xe3o.example.net",
        "2024-03-02.cfg.sw01.s\xe3o.example.net", "2024-03-05.cfg.sw2"}) {
    makeFile(dir + "/" + name);
  }
  FakeZabbix server(56, alwaysSuccess());
  EXPECT_EQ(describe(runAgent({"coletarSaude", dir, "127.0.0.56", "backups"})), expected(0, ""));
  const std::string empty = R"(\"bytes\":0,\"sha256\":\"e3b0c44298fc1c149afbf4c8996fb92427ae41e4)"
                            R"(649b934ca495991b7852b855\")";
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(FakeZabbix::body(server.requests()[0]),
            senderData("backups", "saudeBackup[SW01]",
                       "{" + empty +
                           R"(,\"unidos\":[\"2024-03-02.cfg.sw01.s\\ufffdo.example.net\",)"
                           R"(\"2024-03-05.cfg.sw01.poa.example.net.cfg\"]})"));
  EXPECT_EQ(FakeZabbix::body(server.requests()[1]),
            senderData("backups", "saudeBackup[SW2]", "{" + empty + "}"));

  const std::string emptied = tmp / "emptied";
  makeDirectory(emptied);
  EXPECT_EQ(describe(runAgent({"coletarData", emptied, "127.0.0.56", "backups"})), expected(0, ""));
  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(FakeZabbix::body(server.requests()[2]),
            senderData("backups", "equipamentosNoDiretorio", "0"));
}

// A key and certificate pair made by openssl, as an operator makes them.
void makeCertificate(const std::string& stem) {
  RunOptions options;
  options.program = "/usr/bin/openssl";
  const RunResult made =
      run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
           "/CN=test", "-keyout", stem + ".key", "-out", stem + ".crt"},
          options);
  ASSERT_EQ(made.status, 0) << made.err;
}

void writeKeyFile(const std::string& path, const std::string& text, mode_t mode = 0600) {
  std::ofstream(path) << text;
  ::chmod(path.c_str(), mode);
}

// A report whose first line ends in the TLS library's reason, in parentheses, with "..." in its
// place: the library words it differently from one version to the next.
RunResult withoutLibraryReason(RunResult result) {
  const std::size_t end = result.err.find(")\n");
  const std::size_t start = result.err.rfind(" (", end);
  if (end != std::string::npos && start != std::string::npos && start < result.err.find('\n')) {
    result.err.replace(start + 2, end - start - 2, "...");
  }
  return result;
}

// An encryption setting that cannot be used ends the run with a report naming the variable and
// the problem, never the key; nothing reaches the server, and a launch says so before starting.
// The variables of a Zabbix agent's own environment are left to it.
TEST(Delivery, EncryptionSettingsThatCannotBeUsedEndTheRunBeforeAnySend) {
  TempDir tmp;
  const std::string dir = tmp / "routers";
  makeDirectory(dir);
  makeFile(dir + "/router1");
  const std::string key = "00112233445566778899aabbccddeeff";
  const std::string secret = "SEGREDO00112233";
  writeKeyFile(tmp / "world.key", key + "\n", 0604);
  writeKeyFile(tmp / "writable.key", key + "\n", 0602);
  writeKeyFile(tmp / "odd.key", key + "0\n");
  writeKeyFile(tmp / "text.key", secret + " not hex\n");
  writeKeyFile(tmp / "short.key", key.substr(2) + "\n");
  writeKeyFile(tmp / "nul.key", key + std::string("\0\n", 2));
  ASSERT_EQ(::mkfifo((tmp / "fifo.key").c_str(), 0600), 0);
  makeCertificate(tmp / "a");
  makeCertificate(tmp / "b");
  using Env = std::map<std::string, std::string>;
  const Env psk = {{"ZBX_TLSCONNECT", "psk"}, {"ZBX_TLSPSKIDENTITY", "backups"}};
  const auto with = [](Env env, const std::string& name, const std::string& value) {
    env[name] = value;
    return env;
  };
  const Env cert = {{"ZBX_TLSCONNECT", "cert"},
                    {"ZBX_TLSCAFILE", tmp / "a.crt"},
                    {"ZBX_TLSCERTFILE", tmp / "a.crt"},
                    {"ZBX_TLSKEYFILE", tmp / "a.key"}};
  const struct {
    const char* name;
    Env env;
    std::string message;
    const char* function;
    const char* mode = "coletarData";
  } cases[] = {
      {"unknown mode",
       {{"ZBX_TLSCONNECT", "tls"}},
       "ZBX_TLSCONNECT: valor 'tls' desconhecido; use unencrypted, psk ou cert",
       "readMode"},
      {"no identity",
       {{"ZBX_TLSCONNECT", "psk"}, {"ZBX_TLSPSKFILE", tmp / "short.key"}},
       "ZBX_TLSPSKIDENTITY: obrigatória com ZBX_TLSCONNECT=psk",
       "readTlsSettings"},
      {"key file without the mode",
       {{"ZBX_TLSPSKFILE", tmp / "short.key"}},
       "ZBX_TLSPSKFILE: definida, mas ZBX_TLSCONNECT não é psk",
       "readTlsSettings"},
      {"long identity",
       with(with(psk, "ZBX_TLSPSKFILE", "x"), "ZBX_TLSPSKIDENTITY", std::string(129, 'i')),
       "ZBX_TLSPSKIDENTITY: mais de 128 bytes", "readTlsSettings"},
      // 128 bytes is still an identity: the run goes on to the key file.
      {"identity of 128 bytes",
       with(with(psk, "ZBX_TLSPSKFILE", tmp / "none.key"), "ZBX_TLSPSKIDENTITY",
            std::string(128, 'i')),
       "ZBX_TLSPSKFILE: '" + tmp / "none.key" + "': No such file or directory", "openRegular"},
      {"missing key file", with(psk, "ZBX_TLSPSKFILE", tmp / "none.key"),
       "ZBX_TLSPSKFILE: '" + tmp / "none.key" + "': No such file or directory", "openRegular"},
      {"directory", with(psk, "ZBX_TLSPSKFILE", dir),
       "ZBX_TLSPSKFILE: '" + dir + "': não é um arquivo", "openRegular"},
      // Opened without waiting for a writer that never comes.
      {"FIFO", with(psk, "ZBX_TLSPSKFILE", tmp / "fifo.key"),
       "ZBX_TLSPSKFILE: '" + tmp / "fifo.key" + "': não é um arquivo", "openRegular"},
      {"world-readable", with(psk, "ZBX_TLSPSKFILE", tmp / "world.key"),
       "ZBX_TLSPSKFILE: '" + tmp / "world.key" +
           "': acessível a todos os usuários (modo 0604); use chmod o-rwx",
       "loadPsk"},
      {"world-writable", with(psk, "ZBX_TLSPSKFILE", tmp / "writable.key"),
       "ZBX_TLSPSKFILE: '" + tmp / "writable.key" +
           "': acessível a todos os usuários (modo 0602); use chmod o-rwx",
       "loadPsk"},
      {"launched, world-readable", with(psk, "ZBX_TLSPSKFILE", tmp / "world.key"),
       "ZBX_TLSPSKFILE: '" + tmp / "world.key" +
           "': acessível a todos os usuários (modo 0604); use chmod o-rwx",
       "loadPsk", "launch_coletarData"},
      {"not hex", with(psk, "ZBX_TLSPSKFILE", tmp / "text.key"),
       "ZBX_TLSPSKFILE: '" + tmp / "text.key" + "': a chave não está em hexadecimal", "loadPsk"},
      {"NUL after the digits", with(psk, "ZBX_TLSPSKFILE", tmp / "nul.key"),
       "ZBX_TLSPSKFILE: '" + tmp / "nul.key" + "': a chave não está em hexadecimal", "loadPsk"},
      {"short key", with(psk, "ZBX_TLSPSKFILE", tmp / "short.key"),
       "ZBX_TLSPSKFILE: '" + tmp / "short.key" +
           "': a chave tem 30 dígitos hexadecimais; são precisos de 32 a 512, em número par",
       "loadPsk"},
      {"odd number of digits", with(psk, "ZBX_TLSPSKFILE", tmp / "odd.key"),
       "ZBX_TLSPSKFILE: '" + tmp / "odd.key" +
           "': a chave tem 33 dígitos hexadecimais; são precisos de 32 a 512, em número par",
       "loadPsk"},
      {"no CA", with(cert, "ZBX_TLSCAFILE", ""),
       "ZBX_TLSCAFILE: obrigatória com ZBX_TLSCONNECT=cert", "readTlsSettings"},
      {"CA that is no certificate", with(cert, "ZBX_TLSCAFILE", tmp / "a.key"),
       "ZBX_TLSCAFILE: '" + tmp / "a.key" + "': não contém certificados PEM (...)",
       "loadCertificates"},
      {"certificate that is none", with(cert, "ZBX_TLSCERTFILE", tmp / "a.key"),
       "ZBX_TLSCERTFILE: '" + tmp / "a.key" + "': não contém um certificado PEM (...)",
       "loadCertificates"},
      {"key that is none", with(cert, "ZBX_TLSKEYFILE", tmp / "a.crt"),
       "ZBX_TLSKEYFILE: '" + tmp / "a.crt" + "': não contém uma chave privada PEM sem senha (...)",
       "loadCertificates"},
      {"key of another certificate", with(cert, "ZBX_TLSKEYFILE", tmp / "b.key"),
       "ZBX_TLSKEYFILE: '" + tmp / "b.key" + "': a chave não é a do certificado de ZBX_TLSCERTFILE",
       "loadCertificates"},
      {"subject without certificates",
       {{"ZBX_TLSSERVERCERTSUBJECT", "CN=zabbix"}},
       "ZBX_TLSSERVERCERTSUBJECT: definida, mas ZBX_TLSCONNECT não é cert",
       "readTlsSettings"},
  };
  FakeZabbix server(51, alwaysSuccess());
  // In a Zabbix agent's environment, its own keys stay its own, and values go in plain text.
  RunOptions agents;
  agents.env = {{"ZBX_TLSACCEPT", "psk"}, {"ZBX_TLSPSKFILE", tmp / "world.key"}};
  EXPECT_EQ(describe(runAgent({"coletarData", dir, "127.0.0.51", "backups"}, agents)),
            expected(0, ""));
  ASSERT_EQ(server.requests().size(), 1u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunOptions options;
    options.env = c.env;
    const RunResult result = runAgent({c.mode, dir, "127.0.0.51", "backups"}, options);
    // The variables are read in one file, the files they name loaded in another.
    const bool reading = std::string_view(c.function).starts_with("read");
    const char* file = reading ? "src/zabbix/tls_settings.cpp" : "src/zabbix/tls.cpp";
    EXPECT_EQ(describe(withoutLibraryReason(result)),
              expected(1, "", failureReport("ConfiguracaoInvalida", c.message, c.function, file)));
    EXPECT_EQ(result.err.find(secret), std::string::npos);
  }
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(Delivery, ALaunchedReportDeliversAfterTheLauncherHasEnded) {
  TempDir tmp;
  makeFile(tmp / "router1.cfg", 1700000000);
  // The first attempt fails: the child's retry line goes to the pipe nobody reads any more, and
  // after its 5-second pause the child delivers.
  FakeZabbix server(43, [](int connection, const std::string&) {
    return connection == 0 ? FakeZabbix::closeAtOnce() : FakeZabbix::success();
  });
  RunOptions options;
  options.program = kBinary;
  const RunResult r =
      run({kBinary, "launch_coletarData", tmp.path(), "127.0.0.43", "backups"}, options);
  EXPECT_EQ(describe(r), expected(0, "Processo inicializado com sucesso!\n"));
  ASSERT_TRUE(server.waitForRequests(2, std::chrono::seconds(30)));
  const std::string body = FakeZabbix::body(server.requests()[1]);
  EXPECT_EQ(body.substr(0, 90),
            senderData("backups", "ultimaModificacao[ROUTER1.CFG]", "").substr(0, 90));
}

// A name whose first address never answers: the next address starts 250 ms later and delivers,
// and the following values go straight to the address that connected, even once the first
// address answers again. The name exists only for the agent, in a private mount namespace that
// sees its own /etc/hosts.
TEST(Delivery, ANameWhoseFirstAddressIsBlackHoledDeliversThroughTheNext) {
  if (::geteuid() != 0) GTEST_SKIP() << "a private /etc/hosts needs root";
  TempDir tmp;
  {
    std::ofstream hosts(tmp / "hosts");
    hosts << "127.0.0.47 two-addresses.test\n127.0.0.48 two-addresses.test\n";
  }
  RunOptions options;
  options.program = "/usr/bin/unshare";
  const std::vector<std::string> privateHosts = {
      "unshare",    "--mount", "sh", "-c", R"(mount --bind "$0" /etc/hosts && exec "$@")",
      tmp / "hosts"};
  if (run(privateHosts, options).status != 0) GTEST_SKIP() << "no mount namespace here";

  std::optional<BlackHole> hole(std::in_place, "127.0.0.47", 10052);
  std::optional<FakeZabbix> revived;
  // As the first value is taken, the first address comes back: values that went to it from
  // then on would show that the address that connected was not remembered.
  FakeZabbix server(48, [&](int, const std::string&) {
    if (!revived) {
      hole.reset();
      revived.emplace(47, alwaysSuccess());
    }
    return FakeZabbix::success();
  });
  makeDirectory(tmp / "routers");
  for (const char* name : {"sw1", "sw2", "sw3"}) makeFile(tmp / "routers/" + name, 1700000000);
  std::vector<std::string> argv = privateHosts;
  for (const std::string& argument :
       {std::string(kBinary), std::string("coletarData"), tmp / "routers",
        std::string("two-addresses.test"), std::string("backups")}) {
    argv.push_back(argument);
  }
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = run(argv, options);
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(describe(r), expected(0, ""));
  EXPECT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(revived->requests().size(), 0u);
  // Waiting for the first address alone would take its whole 10-second connect time per value.
  EXPECT_LT(spent, std::chrono::seconds(10));
  std::cout << "three values through a black-holed first address: "
            << std::chrono::duration_cast<std::chrono::milliseconds>(spent).count() << " ms\n";
}

}  // namespace
}  // namespace bm::test
