#pragma once

#include <string>

namespace kelpie {
class QtWindow;
}

namespace kelpie::bench {

// What a user does with the window's controls.
class User {
 public:
  explicit User(QtWindow& window) : window_(window) {}

  // As a mouse click does, the button takes the keyboard focus.
  void Click(int id);
  void Type(int id, const std::string& text);
  void SelectFirstRow(int listId);
  // The next file dialogs are answered with path.
  void AnswerFileDialogsWith(const std::string& path);

 private:
  QtWindow& window_;
};

}  // namespace kelpie::bench
