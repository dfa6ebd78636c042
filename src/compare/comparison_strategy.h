#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "compare/chunk_index.h"
#include "compare/fingerprint.h"
#include "compare/partial_file.h"

namespace kelpie {

struct CompareJob;
class RebuildFile;
struct Tables;
class EngineHost;

// How a synchronisation may fetch: how many Gets may be outstanding, how
// large each may be, and how many copies or Gets one pass may make.
struct SyncPacing {
  int32_t getsInFlight = 1;
  int64_t maxGetLength = 0;
  int64_t bytesInFlight = 0;
  int32_t stepsPerPass = 1;
  int64_t bytesPerPass = 0;  // copied or asked for; one step may pass it
  // A range found before the offset reached that reaches past it is copied
  // from there on, rather than only ranges found right at it.
  bool copyFromWithin = false;
};

// What a version-2 responder says of the file it accepted to compare.
struct PeerFile {
  int64_t size = 0;
  WholeFileHash hash{};
};

// One protocol version's way of running an initiator job: what it sends to
// start, how it checks ranges and takes their answers, how it fetches and
// what it requires of the rebuilt file. The job, its block list, the map,
// the synchronisation loop and the save are shared and never ask which
// version runs them.
class ComparisonStrategy {
 public:
  virtual ~ComparisonStrategy() = default;

  // Tells the peer the comparison starts; the job's file is not loaded yet,
  // so the peer prepares while this side reads.
  virtual void SendStart(CompareJob& job, EngineHost& host, Tables& tables) = 0;
  // With the local data loaded: makes the ranges to check. False when the
  // block list cannot be made.
  virtual bool Prepare(CompareJob& job, const Tables& tables) = 0;
  // Comparing: sends what may be sent; ends the comparison once every range
  // is answered.
  virtual void CompareStep(CompareJob& job, EngineHost& host) = 0;
  // Whether CompareStep has more to send right away, so the loop must not
  // wait for the network before its next pass.
  virtual bool MoreToSend() const { return false; }
  // The peer accepted the comparison and named it fileId; peerFile is what
  // it said of its file, when its version says anything.
  virtual void Accepted(CompareJob& job, int32_t fileId, const PeerFile* peerFile) = 0;
  // Answers to the checks of one batch, in the order they were asked and as
  // the version carries them (the first: the offset itself; the second: a
  // FoundCode). 1 when a waiting range took them, else 0.
  virtual int32_t ApplyAnswers(CompareJob& job, uint32_t batch, std::span<const int64_t> found,
                               const Tables& tables) = 0;

  virtual SyncPacing Pacing() const = 0;
  // Asks the peer for len bytes of its file from offset; request numbers the
  // Get within the job.
  virtual void RequestRange(CompareJob& job, EngineHost& host, uint32_t request, int64_t offset,
                            int64_t len) = 0;
  // Whether the rebuilt file is hashed while it fills, for AcceptRebuilt.
  virtual bool HashesRebuilt() const = 0;
  // Whether the rebuilt file may be saved; false after logging why.
  virtual bool AcceptRebuilt(RebuildFile& rebuilt, EngineHost& host) const = 0;
  // The peer's file, when the version names it well enough that a rebuild
  // cut off halfway can be taken up later.
  virtual std::optional<PartialIdentity> RebuildIdentity() const = 0;
};

// The strategy for a job on a connection of this protocol version.
std::unique_ptr<ComparisonStrategy> MakeStrategy(int32_t netVersion);

// The job's strategy; a job made without one runs the first version's way.
ComparisonStrategy& StrategyOf(CompareJob& job);

}  // namespace kelpie
