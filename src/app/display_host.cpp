#include "app/display_host.h"

#include "app/job_titles.h"
#include "app/log_text.h"

namespace kelpie {
namespace {

int ViewControl(FileView view) {
  return view == FileView::Server ? kServerFiles : kClientFiles;
}

}  // namespace

void DisplayHost::AddLog(std::string_view line) {
  window_.SetText(kLogBox, AppendLogLine(window_.GetText(kLogBox), line));
  window_.ScrollLogToEnd();
  if (logSink_) logSink_(line);
}

void DisplayHost::UpdateJobList(int32_t flags) {
  if (flags & kRebuildJobList) {
    window_.ClearList(kJobList);
    // Reads without the table's cursor: callers may be in the middle of a walk.
    for (const CompareJob& job : state_.tables.CompareJobs) {
      window_.AddRow(kJobList, JobRowTitle(job) + "\n");
    }
  }
  if (flags & kRepaintJobList) window_.Repaint(kJobList);
}

std::string DisplayHost::AskSavePath(std::string_view proposal) {
  return window_.SaveFileDialog("Save file", proposal, "*");
}

void DisplayHost::ClearFileView(FileView view) {
  window_.ClearList(ViewControl(view));
}

void DisplayHost::AddFileRow(FileView view, std::string_view name, std::string_view md5) {
  std::string row(name);
  row.append("\n").append(md5);
  window_.AddRow(ViewControl(view), row);
}

void DisplayHost::SetClientsLabel(std::string_view text) {
  window_.SetText(kClientLabel, text);
}

void DisplayHost::RepaintRoleLabels() {
  window_.Repaint(kServerLabel);
  window_.Repaint(kClientLabel);
}

}  // namespace kelpie
