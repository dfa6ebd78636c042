#include "app/headless_window.h"

#include "app/window_controls.h"

#include <poll.h>

namespace kelpie {
namespace {

template <class T>
T TakeFront(std::deque<T>& queue, T otherwise) {
  if (queue.empty()) return otherwise;
  T value = std::move(queue.front());
  queue.pop_front();
  return value;
}

}  // namespace

HeadlessWindow::HeadlessWindow() {
  for (int id = 0; id < kControlCount; ++id) {
    controls_[id].text = ControlStartText(id);
    controls_[id].enabled = ControlStartsEnabled(id);
  }
}

HeadlessWindow::Control* HeadlessWindow::Find(int id) {
  return id >= 0 && id < kControlCount ? &controls_[id] : nullptr;
}

const HeadlessWindow::Control* HeadlessWindow::Find(int id) const {
  return id >= 0 && id < kControlCount ? &controls_[id] : nullptr;
}

void HeadlessWindow::EnableControl(int id, bool enabled) {
  if (Control* c = Find(id)) c->enabled = enabled;
}

bool HeadlessWindow::IsControlEnabled(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->enabled;
}

std::string HeadlessWindow::GetText(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->text : "";
}

void HeadlessWindow::SetText(int id, std::string_view text) {
  if (Control* c = Find(id)) c->text = text;
}

int HeadlessWindow::SelectedRow(int listId) const {
  const Control* c = Find(listId);
  return c != nullptr ? c->selected : -1;
}

std::string HeadlessWindow::RowText(int listId, int row, int column) const {
  const Control* c = Find(listId);
  if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) return "";
  const std::vector<std::string>& cells = c->rows[row];
  return column >= 0 && column < static_cast<int>(cells.size()) ? cells[column] : "";
}

int HeadlessWindow::RowCount(int listId) const {
  const Control* c = Find(listId);
  return c != nullptr ? static_cast<int>(c->rows.size()) : 0;
}

void HeadlessWindow::ClearList(int listId) {
  if (Control* c = Find(listId)) {
    c->rows.clear();
    c->selected = -1;
  }
}

void HeadlessWindow::AddRow(int listId, std::string_view columns) {
  Control* c = Find(listId);
  if (c == nullptr) return;
  std::vector<std::string>& cells = c->rows.emplace_back();
  for (std::string_view cell : RowColumns(columns))
    cells.emplace_back(cell);
}

void HeadlessWindow::Repaint(int id) {
  if (Control* c = Find(id)) ++c->repaints;
}

int HeadlessWindow::RepaintCount(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->repaints : 0;
}

std::string HeadlessWindow::OpenFileDialog(std::string_view title, std::string_view initialPath,
                                           std::string_view) {
  dialogs_.push_back({std::string(title), std::string(initialPath)});
  return TakeFront(openAnswers_, std::string());
}

std::string HeadlessWindow::SaveFileDialog(std::string_view title, std::string_view proposal,
                                           std::string_view) {
  dialogs_.push_back({std::string(title), std::string(proposal)});
  return TakeFront(saveAnswers_, std::string());
}

bool HeadlessWindow::AskYesNo(std::string_view title, std::string_view text) {
  dialogs_.push_back({std::string(title), std::string(text)});
  return TakeFront(yesNoAnswers_, false);
}

WindowEvent HeadlessWindow::PollEvent() {
  return TakeFront(events_, WindowEvent{});
}

void HeadlessWindow::WaitIdle(const std::vector<pollfd>& fds, int timeoutMs) {
  if (!events_.empty()) return;
  std::vector<pollfd> copy = fds;
  // A signal ends the wait early (EINTR); the caller's next pass sees why.
  ::poll(copy.data(), copy.size(), timeoutMs);
}

bool HeadlessWindow::Click(int id) {
  if (!IsControlEnabled(id)) return false;
  events_.push_back({WindowEventKind::Control, id});
  return true;
}

void HeadlessWindow::SelectRow(int listId, int row) {
  if (Control* c = Find(listId)) {
    c->selected = row >= 0 && row < static_cast<int>(c->rows.size()) ? row : -1;
  }
  events_.push_back({WindowEventKind::Control, listId});
}

void HeadlessWindow::RequestClose() {
  events_.push_back({WindowEventKind::Close, -1});
}

}  // namespace kelpie
