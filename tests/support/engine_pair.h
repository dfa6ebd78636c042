#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compare/engine_host.h"
#include "compare/entries.h"

namespace kelpie::test {

// A built message on its way to a connection.
struct Envelope {
  ConnectionId to = 0;
  std::vector<uint8_t> payload;
};

// An engine host that queues the messages it is asked to send (built with
// the real message builders), keeps the log, answers the save dialog from a
// script and, on every job list update, reads all jobs and block records the
// way the drawing does: without touching any cursor.
class QueueingHost : public EngineHost {
 public:
  QueueingHost(const Tables& tables, ConnectionId serverConnection);

  void SendCompareStart(const CompareJob& job) override;
  void SendCheck(const CompareJob& job, int32_t start, int32_t len, int32_t startLong,
                 std::string_view md5) override;
  void SendGet(const CompareJob& job, int32_t start, int32_t len) override;
  void SendStop(const CompareJob& job) override;
  void SendCompareStart2(const CompareJob& job) override;
  void SendRangeChecks(const CompareJob& job, uint32_t batch,
                       std::span<const RangeCheck> checks) override;
  void SendRangeGet(const CompareJob& job, uint32_t request, int64_t offset, int64_t len) override;
  int32_t PeerVersion(const CompareJob&) const override { return peerVersion; }
  void AddLog(std::string_view line) override;
  void UpdateJobList(int32_t flags) override;
  std::string AskSavePath(std::string_view proposal) override;

  // Queues a payload for a connection.
  void Send(ConnectionId to, std::vector<uint8_t> payload);
  int Count(std::string_view line) const;

  int32_t peerVersion = 1;  // the version every job's peer speaks
  std::deque<Envelope> outbox;
  std::vector<std::string> log;
  std::string savePath;  // what the save dialog answers; "" cancels
  std::vector<std::string> proposals;
  int checksSent = 0;
  int getsSent = 0;
  int64_t bytesAsked = 0;  // sum of the lengths of every Get sent
  int rebuilds = 0;
  int repaints = 0;
  int64_t recordsDrawn = 0;

 private:
  ConnectionId Destination(const CompareJob& job) const;

  const Tables& tables_;
  ConnectionId serverConnection_;
};

// One program state: its tables, its host, and the comparison part of its
// message handler.
class EngineSide {
 public:
  EngineSide(bool isServer, ConnectionId serverConnection);
  EngineSide(const EngineSide&) = delete;
  EngineSide& operator=(const EngineSide&) = delete;

  // Handles one received payload as the server handler (from = the client's
  // connection) or the client handler (from is ignored) does for comparison
  // messages, answering through the host.
  void Handle(ConnectionId from, std::span<const uint8_t> payload);

  // Lists an existing file in LocalFiles, as "Add File to List" does.
  FileEntry& OfferFile(const std::string& path);

  Tables tables;
  QueueingHost host;
  const bool isServer;
  const ConnectionId serverConnection;

 private:
  ConnectionId AnswerTo(ConnectionId from) const { return isServer ? from : serverConnection; }
  bool Matches(const CompareJob& job, ConnectionId from, int32_t fileId) const;
  void HandleOk(ConnectionId from, std::span<const uint8_t> payload);
  void HandleStart(ConnectionId from, std::span<const uint8_t> payload);
  void HandleBlock(ConnectionId from, std::span<const uint8_t> payload);
  void HandleAnswer(ConnectionId from, std::span<const uint8_t> payload);
  void HandleStop(ConnectionId from, std::span<const uint8_t> payload);
};

// A server and one client in one process. The server names the client's
// connection kClientId; the client's connection to the server is
// kServerConnection.
class EnginePair {
 public:
  static constexpr ConnectionId kClientId = 7;
  static constexpr ConnectionId kServerConnection = 3;

  EnginePair();

  // One main-loop pass of each program: the server handles what it received,
  // the client likewise, then each runs its comparison driver.
  void Pass();
  // Passes until no message is in flight and no job is Comparing or
  // Synchronising. False when that did not happen within maxPasses.
  bool RunUntilQuiet(int maxPasses = 2000000);

  // Lists a file of `owner` as a remote file of the other side, as a
  // FileList_Add would have.
  FileEntry& Announce(EngineSide& owner, const FileEntry& file);
  EngineSide& Other(EngineSide& side) { return &side == &server ? client : server; }

  EngineSide server{true, 0};
  EngineSide client{false, kServerConnection};
  // Sees every message in flight and may change it; returning false drops it.
  std::function<bool(Envelope&)> inFlight;
};

}  // namespace kelpie::test
