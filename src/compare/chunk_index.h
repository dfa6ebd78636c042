#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kelpie {

// One range a version-2 check asks about: where does the responder hold
// len bytes whose RangeHash is `hash`?
struct RangeCheck {
  int64_t start = 0;  // the range's offset in the initiator's file
  int64_t len = 0;
  uint64_t hash = 0;
};

// The responder's side of version-2 checks: every range of every level of
// its data (content_chunks.h), by fingerprint, made in one pass. Because both
// sides cut at the same content, a range the initiator asks about is, when
// the responder holds it at all, almost always one of these ranges, so a
// check is one table look-up plus at most one hash of the range at its own
// offset. The data must outlive the index and must not change.
class ChunkIndex {
 public:
  explicit ChunkIndex(std::span<const uint8_t> data);

  // The range's own offset when the data holds it there, else the offset of
  // an indexed range with its fingerprint and length, else -1. `hashBudget`
  // is the number of bytes this call may still hash, and is reduced by what
  // it hashes; past it only the table is asked.
  int64_t Find(const RangeCheck& check, int64_t& hashBudget) const;

  size_t RangeCount() const { return count_; }
  // Bytes the index itself holds.
  size_t MemoryBytes() const { return slots_.size() * sizeof(Slot); }

 private:
  struct Slot {
    uint64_t hash = 0;
    int64_t offset = -1;  // -1: empty
    int64_t len = 0;
  };
  void Insert(uint64_t hash, int64_t offset, int64_t len);

  std::span<const uint8_t> data_;
  std::vector<Slot> slots_;  // open addressing, a power of two in size
  size_t count_ = 0;
};

// How a version-2 answer names where a range was found, relative to the
// range's own start: 0 for nowhere, else 1 + the zigzag of found - start, so
// the own offset is 1 and a nearby one a small number.
int64_t FoundCode(int64_t found, int64_t start);
// The offset a code names for a range starting at start; -1 for nowhere or
// for a code no answer carries.
int64_t FoundFromCode(int64_t code, int64_t start);

}  // namespace kelpie
