#pragma once

#include <cstdint>
#include <span>

#include "compare/entries.h"
#include "protocol/peer_state.h"
#include "protocol/protocol_host.h"

namespace kelpie {

// Sends one built message as a frame. An empty message (one that could not
// be built within a frame) sends nothing.
void SendMessage(PeerState& state, ConnectionId connection, std::span<const uint8_t> message);

// Where messages for a job go: its peer when it has one, else the server.
ConnectionId JobConnection(const PeerState& state, const CompareJob& job);

// Counts of the requests a program sent for its comparisons.
struct RequestCounts {
  int64_t checks = 0;
  int64_t gets = 0;
  int64_t getBytes = 0;  // bytes the Gets asked for
};

// The sending half of a protocol host: the engine's messages for a job, built
// with the message catalogue and sent as frames. The display half is left to
// the program.
class PeerHost : public ProtocolHost {
 public:
  explicit PeerHost(PeerState& state) : state_(state) {}

  void SendCompareStart(const CompareJob& job) override;
  void SendCheck(const CompareJob& job, int32_t start, int32_t len, int32_t startLong,
                 std::string_view md5) override;
  void SendGet(const CompareJob& job, int32_t start, int32_t len) override;
  void SendStop(const CompareJob& job) override;
  void SendCompareStart2(const CompareJob& job) override;
  void SendRangeChecks(const CompareJob& job, uint32_t batch,
                       std::span<const RangeCheck> checks) override;
  void SendRangeGet(const CompareJob& job, uint32_t request, int64_t offset, int64_t len) override;
  int32_t PeerVersion(const CompareJob& job) const override;

  const RequestCounts& requests() const { return requests_; }

 protected:
  PeerState& state_;

 private:
  RequestCounts requests_;
};

}  // namespace kelpie
