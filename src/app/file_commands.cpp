#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <limits>
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

// Why a chosen path cannot be offered, or "" when it can. Sizes travel as
// signed 32-bit numbers, so files of 2 GiB or more cannot be described.
std::string RefusalReason(const std::string& path, int32_t& size) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return "it is not a readable file";
  }
  if (info.st_size > std::numeric_limits<int32_t>::max()) {
    return "files of 2 GiB or more are not supported";
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "it is not a readable file";
  ::close(fd);
  size = static_cast<int32_t>(info.st_size);
  return "";
}

void Announce(PeerState& state, const FileEntry& file) {
  std::vector<uint8_t> message = BuildFileListAdd(file.md5, file.size, file.path);
  if (state.ServerRunning == 1) {
    WalkTable(state.tables.Clients,
              [&](ClientEntry& client) { SendMessage(state, client.connection, message); });
  }
  if (state.ServerConnection != 0) SendMessage(state, state.ServerConnection, message);
}

}  // namespace

void AddFileToList(Program& program) {
  PeerState& state = program.state;
  std::string chosen = program.window.OpenFileDialog("Datei auswählen", "/", "*");
  if (FileNamePart(chosen).empty()) return;
  if (state.ServerRunning != 1 && state.ServerConnection == 0) return;
  int32_t size = 0;
  std::string reason = RefusalReason(chosen, size);
  FileFingerprints prints = reason.empty() ? FingerprintFile(chosen) : FileFingerprints{};
  if (reason.empty() && prints.md5.empty()) reason = "it could not be read";
  if (!reason.empty()) {
    program.host.AddLog("Can't add " + chosen + ": " + reason + "!");
    return;
  }
  FileEntry& file = *state.tables.LocalFiles.Add();
  file.path = chosen;
  file.size = size;
  file.md5 = prints.md5;
  file.sha256 = prints.sha256;
  file.modified = prints.modified;
  file.fileId = NewFileId(state.tables);
  Announce(state, file);
  RefreshFileLists(state, program.host, kRefreshServerView | kRefreshClientView);
}

void RefreshView(Program& program, int refreshButton) {
  int32_t view = refreshButton == kServerRefresh ? kRefreshServerView : kRefreshClientView;
  RefreshFileLists(program.state, program.host, view | kRefreshAskPeers);
}

}  // namespace kelpie
