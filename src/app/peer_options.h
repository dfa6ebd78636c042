#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelpie {

// Command line of the headless peer:
//   kelpie-peer [--listen PORT] [--connect HOST[:PORT]] [--netversion 1|2] [--key FILE] [FILE...]
//   kelpie-peer --connect HOST[:PORT] --fetch REMOTE --to LOCAL [--netversion 1|2] [--key FILE]
//   kelpie-peer --new-key FILE
struct PeerOptions {
  std::optional<int32_t> listenPort;
  std::string connectHost;  // empty: no client role
  int32_t connectPort = 2031;
  std::vector<std::string> files;
  int32_t netVersion = 2;   // the highest protocol version this program speaks
  std::string keyFile;      // non-empty: secure mode with the key in this file
  std::string newKeyFile;   // non-empty: only write a fresh key there
  std::string fetchRemote;  // non-empty: only rebuild this server file into fetchTo
  std::string fetchTo;
  bool help = false;
};

struct PeerArguments {
  PeerOptions options;
  std::string error;  // one line; empty when the arguments are good
};

PeerArguments ParsePeerArguments(std::span<const std::string_view> args);
std::string PeerUsage();

}  // namespace kelpie
