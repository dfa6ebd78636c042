#include "app/peer_session.h"

#include "app/secure_mode.h"

namespace kelpie {
namespace {

// Runs one command the way the main loop would: the click, then one pass.
// A disabled control cannot be clicked and runs nothing.
bool Use(Program& program, HeadlessWindow& window, int control) {
  if (!window.Click(control)) return false;
  program.Pass();
  return true;
}

}  // namespace

std::string ListenOn(Program& program, HeadlessWindow& window, int32_t port) {
  window.SetText(kPortField, std::to_string(port));
  Use(program, window, kServerButton);
  if (program.state.ServerRunning != 1) return "cannot listen on port " + std::to_string(port);
  return "";
}

std::string ConnectTo(Program& program, HeadlessWindow& window, const std::string& host,
                      int32_t port) {
  window.SetText(kHostField, host);
  window.SetText(kPortField, std::to_string(port));
  Use(program, window, kConnectButton);
  if (program.state.ServerConnection == 0) {
    return "cannot connect to " + host + ":" + std::to_string(port);
  }
  return "";
}

std::string OfferFile(Program& program, HeadlessWindow& window, const std::string& file) {
  int32_t before = program.state.tables.LocalFiles.Count();
  // The answer is queued only once the click is taken, so a refused click
  // leaves nothing behind for a later dialog.
  if (window.Click(kAddFileButton)) {
    window.QueueOpenFileAnswer(file);
    program.Pass();
    // A large file is read beside the loop; the passes go on meanwhile.
    while (!program.pendingOffers.empty() && program.QuitRequested == 0)
      program.Pass();
  }
  if (program.state.tables.LocalFiles.Count() == before) return "cannot offer " + file;
  return "";
}

std::string StartPeerSession(Program& program, HeadlessWindow& window, const PeerOptions& options) {
  std::string error;
  program.state.NetVersion = options.netVersion;
  if (!options.keyFile.empty()) error = UseKeyFile(program, options.keyFile);
  if (error.empty() && options.listenPort) error = ListenOn(program, window, *options.listenPort);
  if (error.empty() && !options.connectHost.empty()) {
    error = ConnectTo(program, window, options.connectHost, options.connectPort);
  }
  for (const std::string& file : options.files) {
    if (!error.empty()) break;
    error = OfferFile(program, window, file);
  }
  return error;
}

}  // namespace kelpie
