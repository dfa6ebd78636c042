#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace kelpie {

class RangeIndex;

// When a RangeSearch stops scanning its buffer and asks for an index instead,
// how many answers it remembers, and how much work it may do.
// The defaults suit the responder; tests shrink them to reach the index and
// the bounds with small buffers.
struct RangeSearchOptions {
  // Buffers outside [indexMinSize, indexMaxSize] bytes are always scanned;
  // the index costs at most 4.5 bytes per buffer byte (6.5 while it is built).
  int64_t indexMinSize = int64_t{1} << 20;
  int64_t indexMaxSize = int64_t{256} << 20;
  // The index is asked for once scans have read this many buffers' worth of
  // bytes. Building it takes as long as a few hundred scans, so a small
  // edit, which costs a dozen or two, is answered by scanning, while an
  // insertion, which moves everything after it, soon gets the index.
  int64_t scansBeforeIndex = 16;
  // Scan answers remembered per (length, StartLong, MD5); forgotten all at
  // once when full.
  size_t cachedAnswers = size_t{1} << 16;
  // Work one Find may do, and all Finds of this search together beyond
  // testing the range's own offset, in bytes hashed (search_budget.h). One
  // check's worth takes about 16 ms of a 2.8 GHz core; the whole about ten
  // seconds, so that one peer cannot hold the loop for long and a comparison
  // of any content ends.
  int64_t checkWork = int64_t{12} << 20;
  int64_t totalWork = int64_t{6} << 30;
  // Distances between a found range and its own offset tried first (an
  // insertion moves everything after it by the same distance).
  int recentShifts = 8;
};

// Where a search gets the index of its buffer: made beside the main loop and
// shared by every search of the same bytes.
class RangeIndexSource {
 public:
  virtual ~RangeIndexSource() = default;
  // The index once it is made; the first call may start making it. Null until
  // then, and for good when it cannot be had.
  virtual std::shared_ptr<const RangeIndex> ReadyRangeIndex() = 0;
};

// Answers block checks against one buffer: where does a range of a given
// length, first four bytes (StartLong) and MD5 begin? Its own offset first,
// else the lowest offset, else -1 -- what a byte-by-byte scan would answer,
// as long as the search finds it within its work bounds; past them, -1. It
// uses a fast four-byte search or an index, tries first where earlier ranges
// were found, and keeps what earlier calls learned. The buffer must outlive
// the search and must not change.
class RangeSearch {
 public:
  // Without an index source the search makes its own index, at once, when
  // one pays off.
  explicit RangeSearch(std::span<const uint8_t> data, const RangeSearchOptions& options = {},
                       RangeIndexSource* indexSource = nullptr);
  ~RangeSearch();
  RangeSearch(const RangeSearch&) = delete;
  RangeSearch& operator=(const RangeSearch&) = delete;

  int32_t Find(int32_t start, int32_t len, int32_t startLong, std::string_view md5);

  // Whether later scans go through the index; for tests and benchmarks.
  bool indexed() const;
  // Work done beyond own offsets so far, in bytes hashed; for tests and
  // benchmarks.
  int64_t workSpent() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The reference scan, one offset at a time; for tests and benchmarks.
int32_t NaiveFindRange(std::span<const uint8_t> data, int32_t start, int32_t len, int32_t startLong,
                       std::string_view md5);

}  // namespace kelpie
