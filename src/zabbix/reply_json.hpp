#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bm {

// Whether a reply body is one JSON object whose top-level "response" member (the last, if
// several) is "success", by the grammar of RFC 8259 (a leading byte order mark allowed). Processed
// and failed counts do not matter: the server took the request. Reads the body once and keeps one
// bit per level of nesting, whatever the body holds.
bool isSuccess(std::string_view body);

// What a reply says: whether the server took the request, and its top-level "info" text (the
// last, if several), cut at kInfoLimit bytes; empty when there is none or it is not a string.
// A Zabbix 7.0 server or proxy that does not own the host, because a proxy group gave it to
// another proxy, answers {"redirect":{"revision":1,"address":"127.0.0.2:10063"},
// "response":"failed"} (observed on 7.0.22): redirect is that address, empty when the reply has
// none or it is longer than kAddressLimit.
struct Reply {
  bool success = false;
  std::string info;
  std::string redirect;
};
inline constexpr std::size_t kInfoLimit = 512;
inline constexpr std::size_t kAddressLimit = 300;
Reply readReply(std::string_view body);

}  // namespace bm
