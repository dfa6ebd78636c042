#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "compare/fingerprint.h"

namespace kelpie {

// The peer's file a rebuild is for, as its acceptance described it. A
// partial file is worth resuming only for the very same content.
struct PartialIdentity {
  int64_t size = 0;
  WholeFileHash hash{};
  bool operator==(const PartialIdentity&) const = default;
};

// The ranges of a rebuilt file that hold the peer's bytes, as a set of
// disjoint runs merged where they touch.
class HeldRanges {
 public:
  void Add(int64_t start, int64_t len);
  // The end of the held run that contains at, or at itself.
  int64_t RunEnd(int64_t at) const;
  // The start of the first held run after at, or limit when there is none.
  int64_t NextStart(int64_t at, int64_t limit) const;
  int64_t Bytes() const { return bytes_; }
  const std::map<int64_t, int64_t>& runs() const { return runs_; }  // start -> end

 private:
  std::map<int64_t, int64_t> runs_;
  int64_t bytes_ = 0;
};

// Where an interrupted rebuild beside localPath is kept: a hidden name in the
// same folder that no save can mean.
std::string PartialPathFor(const std::string& localPath);

// What a partial file says of itself behind its data: the peer's file it is
// for and which of its ranges are held. Checksummed, so a torn or foreign
// tail is never taken for one.
std::vector<uint8_t> PartialTrailer(const PartialIdentity& identity, const HeldRanges& held);

struct PartialState {
  PartialIdentity identity;
  HeldRanges held;
};
// Reads the trailer at the end of the open file fd; none when there is no
// sound one or it names ranges beyond its data.
std::optional<PartialState> ReadPartialTrailer(int fd);

}  // namespace kelpie
