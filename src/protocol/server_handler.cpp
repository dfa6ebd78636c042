#include "protocol/server_handler.h"

#include <string>

#include "protocol/file_lists.h"
#include "protocol/message_handler.h"
#include "protocol/messages.h"
#include "protocol/peer_link.h"

namespace kelpie {
namespace {

std::string ClientName(ConnectionId id) {
  return "Client(" + std::to_string(id) + ")";
}

void OnData(PeerState& state, ProtocolHost& host, ConnectionId id) {
  while (state.frames.ReceiveFrame(id) != 0) {
    HandleClientMessage(state, host, id, state.frames.ReceivedFrame());
  }
}

}  // namespace

void AdmitClient(PeerState& state, ProtocolHost& host, ConnectionId id) {
  host.AddLog(ClientName(id) + " connected!");
  state.tables.Clients.Add()->connection = id;
  host.SetClientsLabel(ClientsLabelText(state));
  SendMessage(state, id, BuildHello(kServerGreeting));
}

void HandleClientMessage(PeerState& state, ProtocolHost& host, ConnectionId id,
                         std::span<const uint8_t> payload) {
  // Finding the client's entry leaves the table's cursor on it, which decides
  // where the next admitted client is listed.
  Table<ClientEntry>& clients = state.tables.Clients;
  clients.Reset();
  while (ClientEntry* client = clients.Next()) {
    if (client->connection == id) break;
  }
  HandleMessage(state, host, Sender{id, id, ClientName(id) + ": ", true}, payload);
}

// The client's files, then its jobs, then the client itself: nothing may be
// left referring to an entry that is gone.
void ForgetClient(PeerState& state, ProtocolHost& host, ConnectionId id) {
  host.AddLog(ClientName(id) + " disconnected!");
  Tables& tables = state.tables;
  WalkTable(tables.RemoteFiles, [&](FileEntry& file) {
    if (file.owner == id) tables.RemoteFiles.Delete();
  });
  WalkTable(tables.CompareJobs, [&](CompareJob& job) {
    if (job.peer == id) tables.CompareJobs.Delete();
  });
  WalkTable(tables.Clients, [&](ClientEntry& client) {
    if (client.connection == id) tables.Clients.Delete();
  });
  state.Forget(id);
  RefreshFileLists(state, host, kRefreshClientView);
  host.UpdateJobList(kRebuildJobList);
  host.SetClientsLabel(ClientsLabelText(state));
}

std::string ClientsLabelText(const PeerState& state) {
  return "Clients (" + std::to_string(state.tables.Clients.Count()) + ")";
}

void ServerStep(PeerState& state, ProtocolHost& host) {
  int32_t event = state.network.ServerPoll();
  ConnectionId id = state.network.ServerEventConnection();
  switch (event) {
    case EventConnected:
      return AdmitClient(state, host, id);
    case EventData:
      return OnData(state, host, id);
    case EventDisconnected:
      return ForgetClient(state, host, id);
    case EventRefused:
      // Never admitted, so there is nothing to forget.
      return host.AddLog(ClientName(id) + ": refused: " + state.network.TakeRefusal(id));
    default:
      return;
  }
}

}  // namespace kelpie
