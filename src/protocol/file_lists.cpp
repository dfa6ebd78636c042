#include "protocol/file_lists.h"

#include <climits>
#include <utility>
#include <vector>

#include "protocol/file_name.h"
#include "protocol/messages_v2.h"
#include "protocol/peer_link.h"

namespace kelpie {
namespace {

void ShowFiles(ProtocolHost& host, FileView view, Table<FileEntry>& files) {
  host.ClearFileView(view);
  WalkTable(files,
            [&](FileEntry& file) { host.AddFileRow(view, FileNamePart(file.path), file.md5); });
}

// RemoteFiles holds the server's files (no owner) and, with the server role
// too, the clients' files; each view shows only its own side's.
void ShowRemoteFiles(ProtocolHost& host, FileView view, Table<FileEntry>& files) {
  bool wantServerFiles = view == FileView::Server;
  host.ClearFileView(view);
  WalkTable(files, [&](FileEntry& file) {
    if ((file.owner == 0) == wantServerFiles)
      host.AddFileRow(view, FileNamePart(file.path), file.md5);
  });
}

void AskEveryClient(PeerState& state, ProtocolHost& host) {
  state.tables.RemoteFiles.Clear();
  if (state.tables.Clients.Empty()) {
    host.ClearFileView(FileView::Client);
    return;
  }
  std::vector<uint8_t> request = BuildFileListGet();
  WalkTable(state.tables.Clients,
            [&](ClientEntry& client) { SendMessage(state, client.connection, request); });
}

}  // namespace

int32_t RefreshFileLists(PeerState& state, ProtocolHost& host, int32_t flags) {
  Tables& tables = state.tables;
  bool ask = (flags & kRefreshAskPeers) != 0;
  // An instance with both roles runs both branches of a view, so the later
  // drawing of the same view wins.
  if (flags & kRefreshServerView) {
    if (state.ServerRunning == 1) ShowFiles(host, FileView::Server, tables.LocalFiles);
    if (state.ServerConnection != 0) {
      if (ask) {
        tables.RemoteFiles.Clear();
        SendMessage(state, state.ServerConnection, BuildFileListGet());
      } else {
        ShowRemoteFiles(host, FileView::Server, tables.RemoteFiles);
      }
    }
  }
  if (flags & kRefreshClientView) {
    if (state.ServerConnection != 0) ShowFiles(host, FileView::Client, tables.LocalFiles);
    if (state.ServerRunning == 1) {
      if (ask) {
        AskEveryClient(state, host);
      } else {
        ShowRemoteFiles(host, FileView::Client, tables.RemoteFiles);
      }
    }
  }
  return 0;
}

std::vector<uint8_t> ListingFor(PeerState& state, ProtocolHost& host, ConnectionId connection,
                                FileEntry& file) {
  if (file.size <= INT32_MAX) {
    return BuildFileListAdd(file.md5, static_cast<int32_t>(file.size), file.path);
  }
  if (state.ConnectionVersion(connection) >= 2)
    return BuildV2FileAdd(file.md5, file.size, file.path);
  if (!file.toldTooLarge) host.AddLog(file.path + " is too large for this peer: not listed");
  file.toldTooLarge = true;
  return {};
}

void AnswerFileList(PeerState& state, ProtocolHost& host, ConnectionId connection) {
  std::vector<std::vector<uint8_t>> listings;
  WalkTable(state.tables.LocalFiles, [&](FileEntry& file) {
    std::vector<uint8_t> listing = ListingFor(state, host, connection, file);
    if (!listing.empty()) listings.push_back(std::move(listing));
  });
  SendMessage(state, connection, BuildOk(CmdFileList_Get, static_cast<int32_t>(listings.size())));
  for (const std::vector<uint8_t>& listing : listings)
    SendMessage(state, connection, listing);
}

void RecordRemoteFile(PeerState& state, ProtocolHost& host, const FileListAddMessage& message,
                      ConnectionId owner) {
  Table<FileEntry>& remote = state.tables.RemoteFiles;
  FileEntry* entry = nullptr;
  remote.Reset();
  while (FileEntry* candidate = remote.Next()) {
    if (candidate->path == message.path && candidate->owner == owner) {
      entry = candidate;
      break;
    }
  }
  if (entry == nullptr) entry = remote.Append();
  entry->md5 = message.md5;
  entry->size = message.size;
  entry->path = message.path;
  entry->owner = owner;
  RefreshFileLists(state, host, owner != 0 ? kRefreshClientView : kRefreshServerView);
}

}  // namespace kelpie
