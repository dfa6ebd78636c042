#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "app/commands.h"
#include "app/program.h"
#include "compare/engine.h"
#include "compare/fingerprint.h"
#include "protocol/file_lists.h"
#include "protocol/file_name.h"
#include "protocol/messages.h"
#include "protocol/peer_link.h"

namespace kelpie {
namespace {

// Why a chosen path cannot be offered, or "" when it can.
std::string RefusalReason(const std::string& path, int64_t& size) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return "it is not a readable file";
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "it is not a readable file";
  ::close(fd);
  size = info.st_size;
  return "";
}

void Announce(PeerState& state, ProtocolHost& host, FileEntry& file) {
  const auto send = [&](ConnectionId connection) {
    std::vector<uint8_t> message = ListingFor(state, host, connection, file);
    if (!message.empty()) SendMessage(state, connection, message);
  };
  if (state.ServerRunning == 1) {
    WalkTable(state.tables.Clients, [&](ClientEntry& client) { send(client.connection); });
  }
  if (state.ServerConnection != 0) send(state.ServerConnection);
}

void Offer(Program& program, const ReadyOffer& offer) {
  PeerState& state = program.state;
  if (offer.prints.md5.empty()) {
    program.host.AddLog("Can't add " + offer.path + ": it could not be read!");
    return;
  }
  FileEntry& file = *state.tables.LocalFiles.Add();
  file.path = offer.path;
  file.size = offer.size;
  file.md5 = offer.prints.md5;
  file.sha256 = offer.prints.sha256;
  file.modified = offer.prints.modified;
  file.cuts = offer.cuts;
  file.fileId = NewFileId(state.tables);
  Announce(state, program.host, file);
  RefreshFileLists(state, program.host, kRefreshServerView | kRefreshClientView);
}

}  // namespace

void AddFileToList(Program& program) {
  PeerState& state = program.state;
  std::string chosen = program.window.OpenFileDialog("Datei auswählen", "/", "*");
  if (FileNamePart(chosen).empty()) return;
  if (state.ServerRunning != 1 && state.ServerConnection == 0) return;
  int64_t size = 0;
  std::string reason = RefusalReason(chosen, size);
  if (!reason.empty()) {
    program.host.AddLog("Can't add " + chosen + ": " + reason + "!");
    return;
  }
  // Reading a large file would hold the window and every connection.
  if (size > program.fingerprintAtOnce) {
    program.host.AddLog("Reading " + chosen + " to offer it");
    program.pendingOffers.Start(chosen, size, state.NetVersion >= 2);
    return;
  }
  Offer(program, {chosen, size, FingerprintFile(chosen)});
}

void OfferReadFiles(Program& program) {
  for (const ReadyOffer& offer : program.pendingOffers.TakeReady())
    Offer(program, offer);
}

void RefreshView(Program& program, int refreshButton) {
  int32_t view = refreshButton == kServerRefresh ? kRefreshServerView : kRefreshClientView;
  RefreshFileLists(program.state, program.host, view | kRefreshAskPeers);
}

}  // namespace kelpie
