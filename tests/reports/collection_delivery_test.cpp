#include <gtest/gtest.h>

#include "reports/collection.hpp"
#include "support/capture.hpp"
#include "support/fake_zabbix.hpp"

namespace bm {
namespace {

using test::FakeZabbix;

TEST(DeliverAges, GivesUpOnOneHostAndGoesOnToTheNext) {
  // The server refuses every value for SW,1 and takes the others.
  FakeZabbix server(30, [](int, const std::string& request) {
    return request.find("SW,1") != std::string::npos ? FakeZabbix::failed() : FakeZabbix::success();
  });
  const std::vector<BackupEntry> entries = {{"A", "2024-03-05", 100, 900.5},
                                            {"SW,1", "2024-03-05", 100, 86400},
                                            {"SÃO-PAULO", "2024-03-05", 100, -3.25}};
  DeliveryOptions options;
  int pauses = 0;
  options.pause = [&](std::chrono::seconds) { ++pauses; };
  test::CapturedStdout out;
  SystemLog log("");
  Delivery delivery(log, "coletarData", options);
  deliverAges(delivery, entries, "127.0.0.30", "backups");

  std::string lines;
  for (int attempt = 1; attempt <= 5; ++attempt) {
    lines += "Falha no envio ao Zabbix: 127.0.0.30 - Tentativa número " + std::to_string(attempt) +
             ", tentando novamente em 5 segundos.\n";
  }
  EXPECT_EQ(out.text(), lines);
  EXPECT_EQ(pauses, 5);
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 7u);
  const auto item = [](const std::string& key, const std::string& value) {
    return R"({"request":"sender data","data":[{"host":"backups","key":")" + key +
           R"(","value":")" + value + R"("}]})";
  };
  EXPECT_EQ(FakeZabbix::body(requests[0]), item("ultimaModificacao[A]", "900.5"));
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(FakeZabbix::body(requests[i]), item(R"(ultimaModificacao[\"SW,1\"])", "86400.0"));
  }
  EXPECT_EQ(FakeZabbix::body(requests[6]), item("ultimaModificacao[SÃO-PAULO]", "-3.25"));
}

}  // namespace
}  // namespace bm
