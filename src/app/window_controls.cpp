#include "app/window_controls.h"

#include "app/window.h"

namespace kelpie {

std::string_view ControlStartText(int id) {
  switch (id) {
    case kLogBox:
      return kWindowTitle;
    case kServerLabel:
      return "Server";
    case kClientLabel:
      return "Client";
    case kServerRefresh:
    case kClientRefresh:
      return "Refresh";
    case kServerButton:
      return "StartServer";
    case kConnectButton:
      return "Connect";
    case kHostField:
      return "127.0.0.1";
    case kPortField:
      return "2031";
    case kAddFileButton:
      return "Add File to List";
    case kCompareButton:
      return "Compare";
    case kSyncButton:
      return "Syncronize";
    default:
      return "";
  }
}

bool ControlStartsEnabled(int id) {
  switch (id) {
    case kAddFileButton:
    case kCompareButton:
    case kSyncButton:
    case kServerRefresh:
    case kClientRefresh:
      return false;
    default:
      return true;
  }
}

std::vector<std::string_view> RowColumns(std::string_view row) {
  std::vector<std::string_view> cells;
  size_t begin = 0;
  while (true) {
    size_t end = row.find('\n', begin);
    if (end == std::string_view::npos) {
      cells.push_back(row.substr(begin));
      return cells;
    }
    cells.push_back(row.substr(begin, end - begin));
    begin = end + 1;
  }
}

}  // namespace kelpie
