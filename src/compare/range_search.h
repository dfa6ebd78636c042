#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace kelpie {

// When a RangeSearch stops scanning its buffer and indexes it instead, and how
// many answers it remembers. The defaults suit the responder; tests shrink
// them to reach the index with small buffers.
struct RangeSearchOptions {
  // Buffers outside [indexMinSize, indexMaxSize] bytes are always scanned;
  // the index costs at most 4.5 bytes per buffer byte (6.5 while it is built).
  int64_t indexMinSize = int64_t{1} << 20;
  int64_t indexMaxSize = int64_t{256} << 20;
  // The index is built once scans have read this many buffers' worth of
  // bytes. Building costs as much time as a few hundred scans, so a small
  // edit, which costs a dozen or two, is answered by scanning, while an
  // insertion, which moves everything after it, soon gets the index.
  int64_t scansBeforeIndex = 16;
  // Scan answers remembered per (length, StartLong, MD5); forgotten all at
  // once when full.
  size_t cachedAnswers = size_t{1} << 16;
};

// Answers block checks against one buffer: where does a range of a given
// length, first four bytes (StartLong) and MD5 begin? Its own offset first,
// else the lowest offset, else -1 -- exactly what a byte-by-byte scan would
// answer, but found with a fast four-byte search and with what earlier calls
// learned kept between calls. The buffer must outlive the search and must not
// change.
class RangeSearch {
 public:
  explicit RangeSearch(std::span<const uint8_t> data);
  RangeSearch(std::span<const uint8_t> data, const RangeSearchOptions& options);
  ~RangeSearch();
  RangeSearch(const RangeSearch&) = delete;
  RangeSearch& operator=(const RangeSearch&) = delete;

  int32_t Find(int32_t start, int32_t len, int32_t startLong, std::string_view md5);

  // Whether later scans go through the index; for tests and benchmarks.
  bool indexed() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The reference scan, one offset at a time; for tests and benchmarks.
int32_t NaiveFindRange(std::span<const uint8_t> data, int32_t start, int32_t len, int32_t startLong,
                       std::string_view md5);

}  // namespace kelpie
