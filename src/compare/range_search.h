#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace kelpie {

// Answers block checks against one buffer: where does a range of a given
// length, first four bytes (StartLong) and MD5 begin? Its own offset first,
// else the lowest offset, else -1 -- exactly what a byte-by-byte scan would
// answer, but found with a fast four-byte search and with what earlier calls
// learned kept between calls. The buffer must outlive the search and must not
// change.
class RangeSearch {
 public:
  explicit RangeSearch(std::span<const uint8_t> data);
  ~RangeSearch();
  RangeSearch(const RangeSearch&) = delete;
  RangeSearch& operator=(const RangeSearch&) = delete;

  int32_t Find(int32_t start, int32_t len, int32_t startLong, std::string_view md5);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The reference scan, one offset at a time; for tests and benchmarks.
int32_t NaiveFindRange(std::span<const uint8_t> data, int32_t start, int32_t len,
                       int32_t startLong, std::string_view md5);

}  // namespace kelpie
