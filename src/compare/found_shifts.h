#pragma once

#include <array>
#include <cstdint>
#include <map>

namespace kelpie {

// A responder's record of where the initiator's ranges were found: the
// shift (found offset minus the range's own) at each offset of the
// initiator's file where it changes. A file edited here and there is
// shifted by one amount between two edits, so a range the index does not
// hold (a piece cut at no cut of the content) likely lies at the shift of
// the content on one side of it or the other.
class FoundShifts {
 public:
  // A range starting at start was found shift bytes from it.
  void Record(int64_t start, int64_t shift);
  // The latest shift recorded away from 0, then the shifts recorded nearest
  // before (or at) start and after it; 0 where none is.
  std::array<int64_t, 3> Around(int64_t start) const;

 private:
  std::map<int64_t, int64_t> shifts_;  // by start; each differs from the one before
  int64_t latest_ = 0;
};

}  // namespace kelpie
