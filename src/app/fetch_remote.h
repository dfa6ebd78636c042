#pragma once

#include <string>
#include <string_view>

#include "compare/entries.h"

namespace kelpie {

struct RemoteChoice {
  const FileEntry* file = nullptr;
  std::string error;  // one line when file is null
};

// The server's file a fetch names: the offered path equal to wanted, else the
// only offered path whose name part (text after the last slash) is wanted.
// None, or a name part that several paths share, is an error.
RemoteChoice ChooseRemoteFile(const Table<FileEntry>& remoteFiles, std::string_view wanted);

}  // namespace kelpie
