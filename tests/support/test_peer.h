#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "app/program.h"

namespace kelpie::test {

// The window's events with a short idle wait: several programs share one
// test thread, so none of them may sleep long while another has work.
class QuickEvents : public WindowEvents {
 public:
  explicit QuickEvents(HeadlessWindow& window) : window_(window) {}
  WindowEvent PollEvent() override { return window_.PollEvent(); }
  void WaitIdle(const std::vector<pollfd>& fds, int) override { window_.WaitIdle(fds, 1); }

 private:
  HeadlessWindow& window_;
};

// One headless program in a test, with its log collected line by line.
struct TestPeer {
  TestPeer();
  ~TestPeer();

  // Clicks a control and runs the pass that handles it; false when the
  // control was disabled.
  bool Use(int control);
  // Starts the server role on a free port and returns it.
  int Listen();
  // Client role towards a local server; false when it failed.
  bool ConnectTo(int port);
  // Offers a file through "Add File to List".
  void Offer(const std::string& path);
  // Saves the next synchronised file at path.
  void AnswerSaveWith(const std::string& path) { window.QueueSaveFileAnswer(path); }
  // Selects a row in each file view and presses Compare; false when the
  // button stayed disabled.
  bool CompareRows(int serverRow, int clientRow);
  // Selects a job and presses its button (Syncronize or Abort).
  bool PressJobButton(int row);

  bool Logged(const std::string& line) const;
  int CountLogged(const std::string& line) const;
  CompareJob* Job(int index) { return program.state.tables.CompareJobs.At(index); }

  HeadlessWindow window;
  QuickEvents events{window};
  Program program{window, events};
  std::vector<std::string> log;
};

// Runs passes of every peer, in turn, until done() holds or the budget of
// passes per peer runs out. True when done() held.
bool RunUntil(const std::vector<TestPeer*>& peers, const std::function<bool()>& done,
              int maxPasses = 20000);

// Runs a fixed number of passes of every peer.
void RunPasses(const std::vector<TestPeer*>& peers, int passes);

// A TCP port on loopback that nothing listens on right now.
int UnusedPort();

}  // namespace kelpie::test

namespace kelpie::test {

// A bare TCP client that speaks frames by hand, for feeding a server what a
// well-behaved peer never sends.
class RawClient {
 public:
  explicit RawClient(int port);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  void SendBytes(const std::vector<uint8_t>& bytes);
  void SendFrame(const std::vector<uint8_t>& payload);
  // Payloads of the whole frames received so far (reads what is pending).
  const std::vector<std::vector<uint8_t>>& Frames();
  void Close();

 private:
  int fd_ = -1;
  std::vector<uint8_t> pending_;
  std::vector<std::vector<uint8_t>> frames_;
};

}  // namespace kelpie::test
