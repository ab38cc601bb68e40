#include "zabbix/server_list.hpp"

#include <gtest/gtest.h>

namespace bm {
namespace {

// Targets as "text => host port | host port" lines; a target without nodes shows "=> ?".
std::string shown(const std::string& text) {
  std::string out;
  for (const Target& target : parseServerList(text)) {
    out += target.text + " =>";
    if (target.nodes.empty()) out += " ?";
    for (std::size_t i = 0; i < target.nodes.size(); ++i) {
      out += (i == 0 ? " " : " | ") + target.nodes[i].host + " " +
             std::to_string(target.nodes[i].port);
    }
    out += "\n";
  }
  return out;
}

TEST(ServerList, ReadsEveryFormZabbixWrites) {
  const struct {
    const char* text;
    const char* targets;
  } cases[] = {
      {"zbx.example.net", "zbx.example.net => zbx.example.net 10052\n"},
      {"192.0.2.7:10051", "192.0.2.7:10051 => 192.0.2.7 10051\n"},
      {"[2001:db8::7]:10051", "[2001:db8::7]:10051 => 2001:db8::7 10051\n"},
      {"[2001:db8::7]", "[2001:db8::7] => 2001:db8::7 10052\n"},
      {"2001:db8::7", "2001:db8::7 => 2001:db8::7 10052\n"},
      {"::1", "::1 => ::1 10052\n"},
      {"zbx:00080", "zbx:00080 => zbx 80\n"},
      {"zbx:65535", "zbx:65535 => zbx 65535\n"},
      {"node1:10051;node2:10051;node3",
       "node1:10051;node2:10051;node3 => node1 10051 | node2 10051 | node3 10052\n"},
      {"zbxA:10051,zbxB:10051", "zbxA:10051 => zbxA 10051\nzbxB:10051 => zbxB 10051\n"},
      {"a;[::1]:7,b", "a;[::1]:7 => a 10052 | ::1 7\nb => b 10052\n"},
      // Without ',', ';' or ':' the text is a host name as it stands, brackets and blanks too.
      {"[zbx]", "[zbx] => [zbx] 10052\n"},
      {" zbx ", " zbx  =>  zbx  10052\n"},
      {"", " => ?\n"},  // as before: a name that resolves to nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(shown(c.text), c.targets);
  }
}

TEST(ServerList, WhatCannotBeReadIsATargetWithoutNodes) {
  const struct {
    std::string text;
    std::string targets;
  } cases[] = {
      {"host:porta", "host:porta => ?\n"},
      {"host:", "host: => ?\n"},
      {":10051", ":10051 => ?\n"},
      {"zbx:0", "zbx:0 => ?\n"},
      {"zbx:65536", "zbx:65536 => ?\n"},
      {"zbx:100000", "zbx:100000 => ?\n"},
      {"zbx:+10051", "zbx:+10051 => ?\n"},
      {"zbx:10051 ", "zbx:10051  => ?\n"},
      {"[::1", "[::1 => ?\n"},
      {"[::1]10051", "[::1]10051 => ?\n"},
      {"[::1]:", "[::1]: => ?\n"},
      {"[zbx]:10051", "[zbx]:10051 => ?\n"},
      {"[[::1]]", "[[::1]] => ?\n"},
      // One unreadable node spoils its cluster; other servers of the list still count.
      {"node1;;node2", "node1;;node2 => ?\n"},
      {";;", ";; => ?\n"},
      {"zbx,host:porta", "zbx => zbx 10052\nhost:porta => ?\n"},
      {"zbx,", "zbx => zbx 10052\n => ?\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(shown(c.text), c.targets);
  }
}

TEST(ServerList, LongListsAreNotRead) {
  std::string servers = "zbx";
  for (std::size_t i = 1; i < kMaxTargets; ++i) servers += ",zbx";
  EXPECT_EQ(parseServerList(servers).size(), kMaxTargets);
  EXPECT_EQ(shown(servers + ",zbx"), servers + ",zbx => ?\n");
  std::string nodes = "zbx";
  for (std::size_t i = 1; i < kMaxNodes; ++i) nodes += ";zbx";
  EXPECT_EQ(parseServerList(nodes)[0].nodes.size(), kMaxNodes);
  EXPECT_EQ(shown(nodes + ";zbx"), nodes + ";zbx => ?\n");
  std::string many(9999, ',');
  EXPECT_EQ(shown(many), many + " => ?\n");
}

}  // namespace
}  // namespace bm
