#include "app/commands.h"
#include "app/program.h"
#include "protocol/file_lists.h"
#include "protocol/file_name.h"
#include "protocol/messages.h"
#include "protocol/peer_link.h"

namespace kelpie {

// Stopping keeps the Clients entries, the jobs and the file views as they
// are; only the clients' files are forgotten.
void ToggleServer(Program& program) {
  PeerState& state = program.state;
  if (state.ServerRunning == 1) {
    state.network.ServerClose();
    state.ServerRunning = 0;
    program.window.SetText(kServerButton, "StartServer");
    program.host.RepaintRoleLabels();
    state.tables.RemoteFiles.Clear();
    return;
  }
  if (state.network.ServerOpen(DecimalValue(program.window.GetText(kPortField))) == 0) {
    program.host.AddLog("Unable to start the Server!");
    return;
  }
  state.ServerRunning = 1;
  program.window.SetText(kServerButton, "StopServer");
  program.host.RepaintRoleLabels();
}

// Connecting blocks until the connection is made or has failed. The server
// is greeted and asked for its files at once.
void ToggleConnection(Program& program) {
  PeerState& state = program.state;
  if (state.ServerConnection != 0) {
    state.network.ConnectionClose(state.ServerConnection);
    state.Forget(state.ServerConnection);
    state.ServerConnection = 0;
    program.window.SetText(kConnectButton, "Connect");
    program.host.RepaintRoleLabels();
    state.tables.RemoteFiles.Clear();
    RefreshFileLists(state, program.host, kRefreshServerView);
    return;
  }
  std::string host = program.window.GetText(kHostField);
  std::string port = program.window.GetText(kPortField);
  ConnectionId server = state.network.ClientConnect(host, DecimalValue(port));
  if (server == 0) {
    program.host.AddLog("Couldnt to " + host + ":" + port + " connect!");
    return;
  }
  state.ServerConnection = server;
  SendMessage(state, server, BuildHello(kClientGreeting, static_cast<uint8_t>(state.NetVersion)));
  SendMessage(state, server, BuildFileListGet());
  program.window.SetText(kConnectButton, "Disconnect");
  program.host.RepaintRoleLabels();
}

}  // namespace kelpie
