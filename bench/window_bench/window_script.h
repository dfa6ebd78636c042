#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace kelpie::bench {

// Steps run inside the window program's own event loop: each acts once its
// condition holds, checked on a short timer, so the program is driven
// between its passes as a user would drive it.
class WindowScript : public QObject {
 public:
  struct Step {
    std::string name;
    std::function<bool()> ready;
    std::function<void()> act;
  };

  // finish runs once: after the last step, or with the name of the step that
  // did not become ready within timeoutSeconds.
  WindowScript(std::vector<Step> steps, double timeoutSeconds,
               std::function<void(const std::string& stuckAt)> finish);

  void Start();

 private:
  void Poll();
  void Finish(const std::string& stuckAt);

  std::vector<Step> steps_;
  size_t next_ = 0;
  std::function<void(const std::string&)> finish_;
  QTimer poll_;
  QTimer deadline_;
};

}  // namespace kelpie::bench
