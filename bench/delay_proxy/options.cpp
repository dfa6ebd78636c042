#include "options.h"

#include <charconv>
#include <optional>

#include "loopback.h"

namespace kelpie::bench {
namespace {

std::optional<int> Number(std::string_view text, int low, int high) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

// [HOST:]PORT with HOST a loopback address; 127.0.0.1 when left out.
std::string ParseTarget(std::string_view text, ProxyOptions& options) {
  size_t colon = text.rfind(':');
  std::string host =
      colon == std::string_view::npos ? "127.0.0.1" : std::string(text.substr(0, colon));
  std::optional<int> port = Number(text.substr(colon + 1), 1, 65535);
  std::optional<in_addr> address = LoopbackAddress(host);
  if (!port) return "bad target port in " + std::string(text);
  if (!address) return "target " + host + " is not a loopback address";
  options.targetHost = *address;
  options.targetPort = *port;
  return "";
}

std::string ParseOne(std::string_view name, std::string_view value, ProxyOptions& options) {
  if (name == "--target") return ParseTarget(value, options);
  std::optional<int> number = Number(value, 0, name == "--listen" ? 65535 : 600000);
  if (!number) return "bad value for " + std::string(name) + ": " + std::string(value);
  (name == "--listen" ? options.listenPort : options.rttMs) = *number;
  return "";
}

}  // namespace

const char kProxyUsage[] =
    "Usage: kelpie-delay-proxy [--listen PORT] --target [HOST:]PORT --rtt-ms N\n"
    "\n"
    "Listens on 127.0.0.1:PORT (0 or left out: a free port, printed as\n"
    "\"Listening on port N\"), forwards every connection to the loopback target and\n"
    "delays each byte by N/2 ms in each direction, so a round trip costs N ms.\n"
    "Runs until SIGINT or SIGTERM.\n";

ProxyOptions ParseProxyOptions(std::span<const std::string_view> args) {
  ProxyOptions options;
  for (size_t i = 0; i < args.size() && options.error.empty(); i += 2) {
    std::string_view name = args[i];
    if (name != "--listen" && name != "--target" && name != "--rtt-ms") {
      options.error = "unknown argument " + std::string(name);
    } else if (i + 1 == args.size()) {
      options.error = std::string(name) + " needs a value";
    } else {
      options.error = ParseOne(name, args[i + 1], options);
    }
  }
  if (options.error.empty() && options.targetPort == 0) options.error = "--target is required";
  return options;
}

}  // namespace kelpie::bench
