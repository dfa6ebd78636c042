#include "app/peer_session.h"

namespace kelpie {
namespace {

// Runs one command the way the main loop would: click, then one pass.
void Use(Program& program, HeadlessWindow& window, int control) {
  window.Click(control);
  program.Pass();
}

std::string Listen(Program& program, HeadlessWindow& window, int32_t port) {
  window.SetText(kPortField, std::to_string(port));
  Use(program, window, kServerButton);
  if (program.state.ServerRunning != 1) return "cannot listen on port " + std::to_string(port);
  return "";
}

std::string Connect(Program& program, HeadlessWindow& window, const PeerOptions& options) {
  window.SetText(kHostField, options.connectHost);
  window.SetText(kPortField, std::to_string(options.connectPort));
  Use(program, window, kConnectButton);
  if (program.state.ServerConnection == 0) {
    return "cannot connect to " + options.connectHost + ":" + std::to_string(options.connectPort);
  }
  return "";
}

std::string Offer(Program& program, HeadlessWindow& window, const std::string& file) {
  int32_t before = program.state.tables.LocalFiles.Count();
  window.QueueOpenFileAnswer(file);
  Use(program, window, kAddFileButton);
  if (program.state.tables.LocalFiles.Count() == before) return "cannot offer " + file;
  return "";
}

}  // namespace

std::string StartPeerSession(Program& program, HeadlessWindow& window, const PeerOptions& options) {
  std::string error;
  if (options.listenPort) error = Listen(program, window, *options.listenPort);
  if (error.empty() && !options.connectHost.empty()) error = Connect(program, window, options);
  for (const std::string& file : options.files) {
    if (!error.empty()) break;
    error = Offer(program, window, file);
  }
  return error;
}

}  // namespace kelpie
