#include "app/fetch_remote.h"

#include "protocol/file_name.h"

namespace kelpie {

RemoteChoice ChooseRemoteFile(const Table<FileEntry>& remoteFiles, std::string_view wanted) {
  RemoteChoice choice;
  int named = 0;
  for (const FileEntry& file : remoteFiles) {
    // Files clients offered to this program are not the server's.
    if (file.owner != 0) continue;
    if (file.path == wanted) return {&file, ""};
    if (FileNamePart(file.path) == wanted && ++named == 1) choice.file = &file;
  }
  if (named == 1) return choice;
  if (named > 1) {
    return {nullptr, "\"" + std::string(wanted) + "\" names " + std::to_string(named) +
                         " of the server's files; give the whole path"};
  }
  return {nullptr, "the server offers no file \"" + std::string(wanted) + "\""};
}

}  // namespace kelpie
