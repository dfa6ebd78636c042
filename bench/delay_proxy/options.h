#pragma once

#include <netinet/in.h>

#include <span>
#include <string>
#include <string_view>

namespace kelpie::bench {

// Command line of kelpie-delay-proxy:
//   kelpie-delay-proxy [--listen PORT] --target [HOST:]PORT --rtt-ms N
struct ProxyOptions {
  int listenPort = 0;  // 0: pick a free port
  in_addr targetHost{};
  int targetPort = 0;
  int rttMs = 0;
  std::string error;  // one line; empty when the arguments are good
};

ProxyOptions ParseProxyOptions(std::span<const std::string_view> args);
extern const char kProxyUsage[];

}  // namespace kelpie::bench
