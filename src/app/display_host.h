#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/window.h"
#include "protocol/peer_link.h"

namespace kelpie {

// The program's host: sends through PeerHost and shows everything in the
// window -- the log box, the job list, the file views and the labels.
class DisplayHost : public PeerHost {
 public:
  DisplayHost(PeerState& state, Window& window) : PeerHost(state), window_(window) {}

  void AddLog(std::string_view line) override;
  void UpdateJobList(int32_t flags) override;
  std::string AskSavePath(std::string_view proposal) override;
  void ClearFileView(FileView view) override;
  void AddFileRow(FileView view, std::string_view name, std::string_view md5) override;
  void SetClientsLabel(std::string_view text) override;

  // Repaints both role labels, whose colours follow the roles.
  void RepaintRoleLabels();

  // Also hands every log line to sink as it is logged (the headless peer
  // prints them).
  void SetLogSink(std::function<void(std::string_view)> sink) { logSink_ = std::move(sink); }

 private:
  Window& window_;
  std::function<void(std::string_view)> logSink_;
};

}  // namespace kelpie
