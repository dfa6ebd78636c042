#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "compare/content_chunks.h"

namespace kelpie {

class WorkProgress;
struct PreparedCuts;

// One range a version-2 check asks about: where does the responder hold
// len bytes whose RangeHash is `hash`?
struct RangeCheck {
  int64_t start = 0;  // the range's offset in the initiator's file
  int64_t len = 0;
  uint64_t hash = 0;
};

// The fingerprint of a long range, made while indexing.
struct KeptRangeHash {
  int64_t start = 0;
  int64_t len = 0;
  uint64_t hash = 0;
  bool operator<(const KeptRangeHash& other) const {
    return start != other.start ? start < other.start : len < other.len;
  }
};

// The responder's side of version-2 checks: every range of every level of
// its data (content_chunks.h), by fingerprint, made in one pass. Because both
// sides cut at the same content, a range the initiator asks about is, when
// the responder holds it at all, almost always one of these ranges.
//
// The index is small next to its data: about 1/48 on varied data, and never
// more than 1/16 of data of a megabyte or more. It keeps the small chunks at
// two bytes each and five bytes a range: the number of the range's first
// small chunk, and a tag of its fingerprint and length in the bits that
// number leaves (22 bits on 64 MiB, 15 on 8 GiB), grouped in buckets by more
// bits of them. A check is one look-up; an offset it names is answered only
// once the bytes there have the fingerprint, so nothing is answered that was
// not hashed. The range's own offset wins when it holds the same bytes. Runs
// of zeros are known from the cutting, so a range of zeros is answered
// without hashing the data, and a long range's fingerprint, made while
// indexing, is kept whole, so an offset holding one is answered without
// hashing its bytes again. The data must outlive the index and must not
// change; Find is not to be called from two threads at once.
class ChunkIndex {
 public:
  // With progress, the build reports how far it got and gives up when told
  // to stop; an index given up on is not to be used.
  // With `prepared` (cuts of these very bytes), the data is not cut again,
  // and when they came with an index, that index is taken as it is.
  explicit ChunkIndex(std::span<const uint8_t> data, WorkProgress* progress = nullptr,
                      const PreparedCuts* prepared = nullptr);

  // What the index holds apart from its data: the same for every mapping of
  // the same bytes, so that one made when a file is offered serves each
  // comparison of it.
  struct Tables;
  std::shared_ptr<const Tables> tables() const { return tables_; }
  std::shared_ptr<const ChunkCuts> cuts() const;

  // The range's own offset when the data holds it there, else the offset of
  // an indexed range holding its bytes, else -1. `hashBudget` is the number
  // of bytes this call may still hash (or compare), and is reduced by what
  // it hashes; an offset whose bytes it cannot hash within it is not
  // answered. A range found elsewhere costs one hash of its length; one not
  // found, or found only at its own offset, one hash too. A range the index
  // does not hold (not one of its cut ranges) is also tried each of
  // `shifts` bytes from its own offset, where the content around it was
  // found: one hash more each.
  int64_t Find(const RangeCheck& check, int64_t& hashBudget,
               std::span<const int64_t> shifts = {}) const;

  size_t RangeCount() const;
  // Bytes the index itself holds.
  size_t MemoryBytes() const;

 private:
  struct ZeroHash {
    int64_t len = -1;
    uint64_t hash = 0;
  };
  class Builder;

  static uint64_t Key(uint64_t hash, int64_t len);
  bool IsZero(int64_t offset, int64_t len) const;
  const KeptRangeHash* Kept(int64_t offset, int64_t len) const;
  // The RangeHash of [offset, offset + len), within the budget; zeros cost
  // nothing once their hash for len is known.
  std::optional<uint64_t> HashAt(int64_t offset, int64_t len, int64_t& hashBudget) const;
  std::optional<uint64_t> ZerosHash(int64_t len, int64_t& hashBudget) const;
  // Whether the bytes at a and at b are the same for len bytes; false when
  // the budget runs out first. What is compared counts as hashed.
  bool SameBytes(int64_t a, int64_t b, int64_t len, int64_t& hashBudget) const;
  int64_t NearestCopy(int64_t own, int64_t found, int64_t len, int64_t& hashBudget) const;
  int64_t NearerAtAnyOffset(int64_t own, int64_t found, int64_t len, int64_t& hashBudget) const;
  std::optional<int64_t> TryNearest(std::vector<int64_t>& near, int64_t own, int64_t found,
                                    int64_t len, int64_t& hashBudget) const;
  std::vector<int64_t> StartsLike(int64_t found, size_t needle, int64_t from, int64_t to,
                                  size_t most, int64_t& hashBudget) const;

  std::span<const uint8_t> data_;
  std::shared_ptr<const Tables> tables_;
  mutable std::array<ZeroHash, kTopChunkLevel + 1> longestZeroHashes_{};  // by level
  mutable std::array<ZeroHash, 64> zeroHashes_{};                         // by length
};

struct ChunkIndex::Tables {
  struct ZeroRun {
    int64_t start = 0;
    int64_t end = 0;
  };

  size_t MemoryBytes() const;

  std::shared_ptr<const ChunkCuts> cuts;
  PodBuffer<ZeroRun> zeroRuns;          // the long ones, ascending
  PodBuffer<KeptRangeHash> keptHashes;  // of the long ranges, by start and length
  // Entries grouped by bucket: bucket b holds entries [buckets[b],
  // buckets[b + 1]), in order. An entry is five bytes, least significant
  // first: a range's tag above the number of its first chunk.
  PodBuffer<uint32_t> buckets;
  PodBuffer<uint8_t> entries;
  size_t entryCount = 0;
  int chunkBits = 1;
  int bucketShift = 64;  // a key's bucket is key >> bucketShift (0 when 64)
  int tagShift = 24;     // and its tag (key >> tagShift) & tagMask
  uint64_t tagMask = 0xffff;
  // Hashes of zeros made while indexing, so that no index taking these
  // tables hashes them again.
  std::array<ZeroHash, kTopChunkLevel + 1> longestZeroHashes{};
  std::array<ZeroHash, 64> zeroHashes{};
};

// How a version-2 answer names where a range was found, relative to the
// range's own start: 0 for nowhere, else 1 + the zigzag of found - start, so
// the own offset is 1 and a nearby one a small number.
int64_t FoundCode(int64_t found, int64_t start);
// The offset a code names for a range starting at start; -1 for nowhere or
// for a code no answer carries.
int64_t FoundFromCode(int64_t code, int64_t start);

}  // namespace kelpie
