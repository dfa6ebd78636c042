#include "app/commands.h"

#include "app/program.h"

namespace kelpie {

void Program::HandleControlEvent(int id) {
  switch (id) {
    case kServerFiles:
    case kClientFiles:
      return CheckFileSelection(*this);
    case kJobList:
      return SelectJob(*this);
    case kServerButton:
      return ToggleServer(*this);
    case kConnectButton:
      return ToggleConnection(*this);
    case kAddFileButton:
      return AddFileToList(*this);
    case kServerRefresh:
    case kClientRefresh:
      return RefreshView(*this, id);
    case kCompareButton:
      return CompareSelectedFiles(*this);
    case kSyncButton:
      return SynchronizeOrAbort(*this);
    default:
      return;  // the log box, the labels and the two fields have no command
  }
}

}  // namespace kelpie
