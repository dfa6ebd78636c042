#pragma once

#include "compare/comparison_strategy.h"

namespace kelpie {

// The first protocol version: one range checked at a time, each answered with
// one offset, halved while it is not found at its own offset, and one Get of
// at most one frame outstanding.
class Version1Strategy : public ComparisonStrategy {
 public:
  void SendStart(CompareJob& job, EngineHost& host, Tables& tables) override;
  bool Prepare(CompareJob& job, const Tables& tables) override;
  void CompareStep(CompareJob& job, EngineHost& host) override;
  void Accepted(CompareJob& job, int32_t fileId, const PeerFile* peerFile) override;
  int32_t ApplyAnswers(CompareJob& job, uint32_t batch, std::span<const int64_t> found,
                       const Tables& tables) override;
  SyncPacing Pacing() const override;
  void RequestRange(CompareJob& job, EngineHost& host, uint32_t request, int64_t offset,
                    int64_t len) override;
  bool HashesRebuilt() const override { return false; }
  bool AcceptRebuilt(RebuildFile& rebuilt, EngineHost& host) const override;
  std::optional<PartialIdentity> RebuildIdentity() const override { return std::nullopt; }
};

}  // namespace kelpie
