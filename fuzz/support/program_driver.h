#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "app/headless_window.h"
#include "app/program.h"
#include "support/input_reader.h"

namespace kelpie::fuzz {

// What a whole-program script does, one operation at a time. Each is a byte
// (taken modulo kOperationCount) followed by its arguments.
enum Operation : uint8_t {
  kDeliver = 0,     // u8 sender, u16 length, the payload: one message handled
  kPasses = 1,      // u8 n: 1 + n % 8 main-loop passes
  kCompare = 2,     // u8, u8: select a row in each file view, press Compare
  kJobButton = 3,   // u8 row, u8 save: press Syncronize/Abort on a job; an odd
                    // save queues the answer for the next save dialog
  kOffer = 4,       // u8 which: "Add File to List" with a sample (or a missing file)
  kRefresh = 5,     // u8 which: one of the two refresh buttons
  kConnect = 6,     // server: a new client connects; client: nothing
  kDisconnect = 7,  // server: u8 which client goes; client: Disconnect
  kOperationCount = 8,
};

// The first byte of a script: bit 0 set for a program that speaks version 2;
// bit 1 set to let version-2 comparisons ask parts ahead at any round trip.
inline constexpr uint8_t kSpeaksVersion2 = 1;
inline constexpr uint8_t kAskAhead = 2;

// Numbers the driver gives: the client's connection to its server, and the
// first client a server admits (later ones count up). Local files are
// numbered from kFirstFileId, so a script can name its jobs.
inline constexpr ConnectionId kServerConnection = 1;
inline constexpr ConnectionId kFirstClient = 1;
inline constexpr int32_t kFirstFileId = 100;

// One headless program in the server or the client role with no socket at
// all: the role is taken as if listening or connected had worked, messages
// go to the real handlers as if their frames had arrived, commands are
// clicks on a headless window, and whatever the program sends goes nowhere.
// After every operation the tables are checked against each other and
// against the connections the driver made.
class ProgramDriver {
 public:
  ProgramDriver(bool serverRole, uint8_t setup);
  ~ProgramDriver();
  ProgramDriver(const ProgramDriver&) = delete;
  ProgramDriver& operator=(const ProgramDriver&) = delete;

  // Runs the operations of input until it ends, then lets every client go
  // (or disconnects) and checks what is left.
  void Run(InputReader& input);

 private:
  class NoWait : public WindowEvents {
   public:
    explicit NoWait(HeadlessWindow& window) : window_(window) {}
    WindowEvent PollEvent() override { return window_.PollEvent(); }
    void WaitIdle(const std::vector<pollfd>&, int) override {}

   private:
    HeadlessWindow& window_;
  };

  void Step(InputReader& input);
  void Use(int control);
  void Select(int list, uint8_t row);
  void Deliver(uint8_t sender, std::span<const uint8_t> payload);
  void Offer(uint8_t which);
  void Connect();
  void Disconnect(uint8_t which);
  void Check() const;

  const bool serverRole_;
  HeadlessWindow window_;
  NoWait events_{window_};
  Program program_{window_, events_};
  std::vector<ConnectionId> clients_;  // server: the clients admitted and not gone
  ConnectionId nextClient_ = kFirstClient;
};

}  // namespace kelpie::fuzz
