#include "app/peer_options.h"

namespace kelpie {
namespace {

// A TCP port: decimal digits only, 0 to 65535.
std::optional<int32_t> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int32_t port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port > 65535) return std::nullopt;
  return port;
}

std::string ParseConnect(std::string_view target, PeerOptions& options) {
  size_t colon = target.rfind(':');
  std::string_view host = colon == std::string_view::npos ? target : target.substr(0, colon);
  if (host.empty()) return "--connect needs a host";
  if (colon != std::string_view::npos) {
    std::optional<int32_t> port = ParsePort(target.substr(colon + 1));
    if (!port) return "bad port in --connect " + std::string(target);
    options.connectPort = *port;
  }
  options.connectHost = host;
  return "";
}

// The option that names one file, by its name.
std::string& FileValue(PeerOptions& options, std::string_view option) {
  if (option == "--key") return options.keyFile;
  if (option == "--new-key") return options.newKeyFile;
  if (option == "--fetch") return options.fetchRemote;
  return options.fetchTo;
}

// A fetch is a client of one server and nothing else.
std::string CheckFetch(const PeerOptions& options) {
  if (options.fetchRemote.empty() && options.fetchTo.empty()) return "";
  if (options.fetchRemote.empty()) return "--to LOCAL goes with --fetch REMOTE";
  if (options.fetchTo.empty()) return "--fetch REMOTE needs --to LOCAL";
  if (options.connectHost.empty()) return "--fetch needs --connect HOST[:PORT]";
  if (options.listenPort || !options.files.empty()) {
    return "--fetch takes neither --listen nor files to offer";
  }
  return "";
}

}  // namespace

PeerArguments ParsePeerArguments(std::span<const std::string_view> args) {
  PeerArguments result;
  PeerOptions& options = result.options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--listen" || arg == "--connect" || arg == "--netversion" || arg == "--key" ||
               arg == "--new-key" || arg == "--fetch" || arg == "--to") {
      if (i + 1 == args.size()) {
        result.error = std::string(arg) + " needs a value";
        return result;
      }
      std::string_view value = args[++i];
      if (arg == "--connect") {
        result.error = ParseConnect(value, options);
      } else if (arg == "--key" || arg == "--new-key" || arg == "--fetch" || arg == "--to") {
        FileValue(options, arg) = value;
        if (value.empty()) result.error = std::string(arg) + " needs a file name";
      } else if (arg == "--netversion") {
        if (value == "1" || value == "2") {
          options.netVersion = value[0] - '0';
        } else {
          result.error = "bad value for --netversion: " + std::string(value) + " (1 or 2)";
        }
      } else if (std::optional<int32_t> port = ParsePort(value)) {
        options.listenPort = *port;
      } else {
        result.error = "bad port for --listen: " + std::string(value);
      }
      if (!result.error.empty()) return result;
    } else if (arg.starts_with("-") && arg != "-") {
      result.error = "unknown option " + std::string(arg);
      return result;
    } else {
      options.files.emplace_back(arg);
    }
  }
  if (!options.newKeyFile.empty()) {
    bool alone = !options.listenPort && options.connectHost.empty() && options.files.empty() &&
                 options.keyFile.empty() && options.fetchRemote.empty() && options.fetchTo.empty();
    if (!alone) result.error = "--new-key FILE writes a key and takes no other options";
  } else if (!options.help && !options.listenPort && options.connectHost.empty()) {
    result.error = "give --listen PORT, --connect HOST[:PORT] or both (see --help)";
  } else if (!options.help) {
    result.error = CheckFetch(options);
  }
  return result;
}

std::string PeerUsage() {
  return "Usage: kelpie-peer [--listen PORT] [--connect HOST[:PORT]] [--netversion 1|2]\n"
         "                   [--key FILE] [FILE...]\n"
         "       kelpie-peer --connect HOST[:PORT] --fetch REMOTE --to LOCAL\n"
         "                   [--netversion 1|2] [--key FILE]\n"
         "       kelpie-peer --new-key FILE\n"
         "\n"
         "Kelpie without a window: plays the server role (--listen), the client role\n"
         "(--connect, port 2031 unless given) or both, offers the FILEs to its peers and\n"
         "answers their comparisons and requests as the window program does. Every log\n"
         "line is written to standard output as it is logged. Once the roles are up and\n"
         "the files offered, a listening peer prints \"Listening on port N\" (useful with\n"
         "--listen 0).\n"
         "--netversion 1 makes it speak only the first protocol version; by default it\n"
         "speaks version 2 with every peer that announces it, and version 1 with others.\n"
         "--key FILE turns on secure mode: both roles speak TLS 1.3 keyed with the key in\n"
         "FILE and talk only to peers holding the same key. --new-key FILE writes a fresh\n"
         "random key to FILE (which must not exist), readable by its owner only, and exits.\n"
         "--fetch REMOTE --to LOCAL brings LOCAL up to date with the server's file REMOTE\n"
         "(its path as offered, or the name after its last slash when only one offered\n"
         "path has it), fetching only what LOCAL lacks, replaces LOCAL atomically and\n"
         "exits; a missing LOCAL is fetched whole. On a terminal it shows its progress on\n"
         "standard error; it ends with a summary line. Exit status: 0 done, 2 bad\n"
         "arguments, 3 cannot connect, 4 no such or an ambiguous REMOTE, 5 the peer\n"
         "refused, 6 connection lost, 7 verification failed, 8 LOCAL not written.\n"
         "Otherwise it runs until SIGINT or SIGTERM, then exits 0. A bad argument, a port\n"
         "in use, a failed connection, an unreadable file or a key file that others can\n"
         "read gives a one-line error on standard error and exit status 2.\n";
}

}  // namespace kelpie
