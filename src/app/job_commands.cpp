#include <string>

#include "app/commands.h"
#include "app/program.h"
#include "compare/engine.h"
#include "compare/sync.h"
#include "protocol/file_name.h"

namespace kelpie {
namespace {

struct SelectedFile {
  std::string name;
  std::string md5;
};

SelectedFile SelectedRowOf(const Window& window, int list) {
  int row = window.SelectedRow(list);
  return {window.RowText(list, row, 0), window.RowText(list, row, 1)};
}

// The first entry, in table order, with this name part and fingerprint whose
// owner is of the wanted kind. The search leaves the table's cursor on it.
FileEntry* FindFile(Table<FileEntry>& files, const SelectedFile& wanted, bool ownedByClient) {
  files.Reset();
  while (FileEntry* file = files.Next()) {
    if ((file->owner != 0) != ownedByClient) continue;
    if (file->md5 == wanted.md5 && FileNamePart(file->path) == wanted.name) return file;
  }
  return nullptr;
}

}  // namespace

void CheckFileSelection(Program& program) {
  Window& window = program.window;
  bool both = window.SelectedRow(kServerFiles) >= 0 && window.SelectedRow(kClientFiles) >= 0;
  window.EnableControl(kCompareButton, both);
}

void SelectJob(Program& program) {
  Window& window = program.window;
  CompareJob* job = program.state.tables.CompareJobs.Select(window.SelectedRow(kJobList));
  if (job == nullptr) {
    window.EnableControl(kSyncButton, false);
    return;
  }
  window.EnableControl(kSyncButton, true);
  bool running = job->state != kRequested && job->state != kIdle;
  window.SetText(kSyncButton, running ? "Abort" : "Syncronize");
}

// The client role takes precedence: with both roles, this side's file is in
// the right list and the server's in the left one.
void CompareSelectedFiles(Program& program) {
  Window& window = program.window;
  PeerState& state = program.state;
  if (window.SelectedRow(kServerFiles) < 0 || window.SelectedRow(kClientFiles) < 0) return;
  bool clientRole = state.ServerConnection != 0;
  if (!clientRole && state.ServerRunning != 1) return;
  SelectedFile local = SelectedRowOf(window, clientRole ? kClientFiles : kServerFiles);
  SelectedFile remote = SelectedRowOf(window, clientRole ? kServerFiles : kClientFiles);
  FileEntry* remoteFile = FindFile(state.tables.RemoteFiles, remote, !clientRole);
  if (remoteFile == nullptr) return;
  FileEntry* localFile = FindFile(state.tables.LocalFiles, local, false);
  if (localFile == nullptr) return;
  StartComparison(state.tables, program.host, *localFile, *remoteFile);
}

// The button's text is set only when a job is selected, so pressing
// "Syncronize" on a running job stops it like "Abort".
void SynchronizeOrAbort(Program& program) {
  int row = program.window.SelectedRow(kJobList);
  CompareJob* job = program.state.tables.CompareJobs.Select(row);
  if (job == nullptr) return;
  if (job->state == kIdle) {
    // No room for the peer's file beside the local one (a size limit, a
    // full disk): said as when the save cannot create its file.
    if (!StartSynchronisation(*job, &program.host)) program.host.AddLog("Couldn't open file!");
  } else {
    AbortJob(*job, program.host);
  }
}

}  // namespace kelpie
