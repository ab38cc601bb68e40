#include "zabbix/protocol.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "base/failure.hpp"

namespace bm {
namespace {

TEST(SenderRequest, FramesTheWorkedExample) {
  const std::string request = senderRequest({{"h", "k", "1"}});
  const std::string body =
      R"({"request":"sender data","data":[{"host":"h","key":"k","value":"1"}]})";
  EXPECT_EQ(request, std::string("ZBXD\x01\x45\0\0\0\0\0\0\0", 13) + body);
}

TEST(SenderRequest, EscapesTextAndReplacesBytesThatAreNotUtf8) {
  const std::string request = senderRequest({{"h\xff", "k[\"a\\b\"]", "{\"data\": []}\n"}});
  EXPECT_EQ(request.substr(13), R"({"request":"sender data","data":[{"host":"h)"
                                "\xef\xbf\xbd"
                                R"(","key":"k[\"a\\b\"]","value":"{\"data\": []}\n"}]})");
  // Control bytes grow to six bytes (\u0001) or two (\t), and the header's length counts them.
  const std::string controls = senderRequest({{"h\x01\t", "k\x1f", "v"}});
  EXPECT_EQ(controls.substr(13), R"({"request":"sender data","data":[{"host":"h\u0001\t",)"
                                 R"("key":"k\u001f","value":"v"}]})");
  EXPECT_EQ(replyLength(controls.substr(0, 13), "s:1"), controls.size() - 13);
}

TEST(ReplyLength, RefusesWhatIsNotAPlainZabbixHeader) {
  const struct {
    const char* name;
    std::string header;
    const char* message;  // empty: accepted
  } cases[] = {
      {"ordinary", std::string("ZBXD\x01\x10\0\0\0\0\0\0\0", 13), ""},
      {"sixteen MiB", std::string("ZBXD\x01\0\0\0\x01\0\0\0\0", 13), ""},
      {"wrong signature", std::string("ZBXE\x01\x10\0\0\0\0\0\0\0", 13),
       "resposta de s:1 sem a assinatura ZBXD"},
      {"no protocol flag", std::string("ZBXD\x00\x10\0\0\0\0\0\0\0", 13),
       "resposta de s:1 com flags 0 (esperado 1)"},
      {"compressed", std::string("ZBXD\x03\x10\0\0\0\x20\0\0\0", 13),
       "resposta de s:1 com flags 3 (esperado 1)"},
      {"large packet", std::string("ZBXD\x05\x10\0\0\0\0\0\0\0", 13),
       "resposta de s:1 com flags 5 (esperado 1)"},
      {"just above sixteen MiB", std::string("ZBXD\x01\x01\0\0\x01\0\0\0\0", 13),
       "resposta de s:1 anuncia 16777217 bytes, acima de 16 MiB"},
      {"four GiB", std::string("ZBXD\x01\xff\xff\xff\xff\0\0\0\0", 13),
       "resposta de s:1 anuncia 4294967295 bytes, acima de 16 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      replyLength(c.header, "s:1");
      EXPECT_STREQ(c.message, "");
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::Delivery);
      EXPECT_EQ(failure.message(), c.message);
    }
  }
  EXPECT_EQ(replyLength(std::string("ZBXD\x01\x10\x02\0\0\0\0\0\0", 13), "s:1"), 0x210u);
}

TEST(IsSuccess, OnlyAResponseOfSuccess) {
  EXPECT_TRUE(isSuccess(R"({"response":"success","info":"processed: 0; failed: 1; total: 1"})"));
  EXPECT_TRUE(isSuccess(R"({"info":"x","response":"success"})"));
  EXPECT_FALSE(isSuccess(R"({"response":"failed","info":"cannot parse"})"));
  EXPECT_FALSE(isSuccess(R"({"response":"Success"})"));
  EXPECT_FALSE(isSuccess(R"({"response":true})"));
  EXPECT_FALSE(isSuccess(R"(["response","success"])"));
  EXPECT_FALSE(isSuccess(R"({"response":"success")"));
  EXPECT_FALSE(isSuccess(""));
  EXPECT_FALSE(isSuccess("garbage"));
  // Only the top level's member counts, and the last of two, as in a parsed object.
  EXPECT_FALSE(isSuccess(R"({"info":{"response":"success"}})"));
  EXPECT_FALSE(isSuccess(R"({"response":"success","response":"failed"})"));
  EXPECT_TRUE(isSuccess(R"({"response":["x"],"response":"success"})"));
  EXPECT_FALSE(isSuccess(R"({"response":"success"} {})"));
}

#if !defined(__SANITIZE_ADDRESS__)
// The peak resident memory of a child process that runs f, in MiB.
long peakMibOf(const std::function<void()>& f) {
  const pid_t child = ::fork();
  if (child == 0) {
    f();
    ::_exit(0);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  return usage.ru_maxrss / 1024;
}

// However a reply as large as the cap allows nests, reading it costs about its own size.
TEST(IsSuccess, ReadsAReplyAsLargeAsTheCapInLittleMemory) {
  const std::size_t size = kMaxReplySize;
  const struct {
    const char* name;
    std::function<std::string()> body;
  } cases[] = {
      {"arrays", [&] { return std::string(size, '['); }},
      {"objects",
       [&] {
         std::string body;
         while (body.size() + 5 <= size) body += R"({"a":)";
         return body;
       }},
      {"one long response",
       [&] { return R"({"response":")" + std::string(size - 16, 's') + R"("})"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_LT(peakMibOf([&] {
                const std::string body = c.body();
                if (isSuccess(body)) ::_exit(1);
              }),
              64);
  }
}
#endif

}  // namespace
}  // namespace bm

namespace bm {
namespace {

TEST(ReplyReader, TakesTheReplyInPiecesOfAnySize) {
  const std::string body = R"({"response":"success","info":"processed: 1; failed: 0"})";
  std::string reply = std::string("ZBXD\x01", 5);
  reply += static_cast<char>(body.size());
  reply.append(7, '\0');
  reply += body;
  for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
    SCOPED_TRACE(cut);
    ReplyReader reader("s:1");
    const bool first = reader.feed(std::string_view(reply).substr(0, cut));
    EXPECT_EQ(first, cut == reply.size());
    EXPECT_TRUE(reader.feed(reply.substr(cut) + "trailing"));
    EXPECT_TRUE(reader.success());
    EXPECT_EQ(reader.body(), body);
  }
  ReplyReader byteByByte("s:1");
  for (std::size_t i = 0; i + 1 < reply.size(); ++i)
    ASSERT_FALSE(byteByByte.feed(reply.substr(i, 1)));
  EXPECT_TRUE(byteByByte.feed(reply.substr(reply.size() - 1)));
  EXPECT_TRUE(byteByByte.success());
}

TEST(ReplyReader, FailsOnceTheHeaderIsBad) {
  ReplyReader reader("s:1");
  EXPECT_FALSE(reader.feed(std::string("ZBXD\x01\xff\xff", 7)));
  try {
    reader.feed(std::string("\xff\xff\0\0\0\0", 6));
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message(), "resposta de s:1 anuncia 4294967295 bytes, acima de 16 MiB");
  }
}

}  // namespace
}  // namespace bm
