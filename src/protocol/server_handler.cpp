#include "protocol/server_handler.h"

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/file_lists.h"
#include "protocol/message_handler.h"
#include "protocol/message_turns.h"
#include "protocol/messages.h"
#include "protocol/peer_link.h"

namespace kelpie {

std::string ClientName(ConnectionId id) {
  return "Client(" + std::to_string(id) + ")";
}

namespace {

void OnData(PeerState& state, ProtocolHost& host, ConnectionId id) {
  TakeMessages(state, id, [&](std::span<const uint8_t> payload) {
    HandleClientMessage(state, host, id, payload);
  });
}

// The endpoint reports the first client with bytes waiting, so a client that
// keeps sending would be the only one served. The other clients with
// messages waiting get their turns too, in order from where the last pass
// stopped: at least one client a pass, more while the pass has time.
void ServeWaitingClients(PeerState& state, ProtocolHost& host, ConnectionId served) {
  std::vector<ConnectionId> order;
  for (const ClientEntry& client : state.tables.Clients)
    order.push_back(client.connection);
  std::sort(order.begin(), order.end());
  const auto first = std::lower_bound(order.begin(), order.end(), state.nextClientTurn);
  std::rotate(order.begin(), first, order.end());
  bool servedOne = false;
  for (const ConnectionId id : order) {
    if (id == served || !HasMessagesWaiting(state, id)) continue;
    if (servedOne && !state.PassTimeLeft()) {
      state.nextClientTurn = id;
      return;
    }
    OnData(state, host, id);
    servedOne = true;
  }
  state.nextClientTurn = 0;
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
      AdmitClient(state, host, id);
      break;
    case EventData:
      OnData(state, host, id);
      break;
    case EventDisconnected:
      ForgetClient(state, host, id);
      break;
    case EventRefused:
      // Never admitted, so there is nothing to forget.
      host.AddLog(ClientName(id) + ": refused: " + state.network.TakeRefusal(id));
      break;
    default:
      break;
  }
  ServeWaitingClients(state, host, event == EventData ? id : 0);
}

}  // namespace kelpie
