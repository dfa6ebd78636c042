#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

namespace kelpie {

// Work a range search may still do, counted in bytes hashed with MD5. A byte
// scanned or compared costs an eighth of that (wide loads run about ten times
// as fast), and every MD5 also a fixed overhead for its context, so that many
// tiny windows cannot slip through a budget meant for a few large ones.
class SearchBudget {
 public:
  static constexpr int64_t kHashOverhead = 64;
  static constexpr int64_t kBytesPerUnit = 8;

  explicit SearchBudget(int64_t units) : left_(std::max<int64_t>(units, 0)) {}

  static int64_t HashCost(int64_t bytes) { return bytes + kHashOverhead; }

  // Takes units when they are there; false, taking nothing, when not.
  bool Take(int64_t units) {
    if (units > left_) return false;
    left_ -= units;
    spent_ += units;
    return true;
  }
  bool TakeHash(int64_t bytes) { return Take(HashCost(bytes)); }
  // Charges bytes already scanned or compared (rounded up); may overdraw by
  // less than one unit's worth.
  void TakeScanned(int64_t bytes) {
    const int64_t units = (bytes + kBytesPerUnit - 1) / kBytesPerUnit;
    const int64_t taken = std::min(units, left_);
    left_ -= taken;
    spent_ += taken;
  }
  // How many bytes may still be scanned.
  int64_t ScannableBytes() const {
    return left_ > INT64_MAX / kBytesPerUnit ? INT64_MAX : left_ * kBytesPerUnit;
  }

  int64_t left() const { return left_; }
  int64_t spent() const { return spent_; }

 private:
  int64_t left_;
  int64_t spent_ = 0;
};

}  // namespace kelpie
