#include "compare/found_shifts.h"

namespace kelpie {
namespace {

// Shifts kept at most: an edit or two makes each, so this is many thousands
// of edits; past it the record stays as it is, which only costs finds.
constexpr size_t kMostShifts = size_t{1} << 16;

}  // namespace

void FoundShifts::Record(int64_t start, int64_t shift) {
  if (shift != 0) latest_ = shift;
  auto after = shifts_.upper_bound(start);
  if (after != shifts_.begin()) {
    const auto before = std::prev(after);
    if (before->second == shift) return;
    if (before->first == start) {
      before->second = shift;
      return;
    }
  } else if (shift == 0) {
    return;  // the start of the file is taken as unshifted
  }
  if (shifts_.size() < kMostShifts) shifts_.emplace_hint(after, start, shift);
}

std::array<int64_t, 3> FoundShifts::Around(int64_t start) const {
  const auto after = shifts_.upper_bound(start);
  const int64_t before = after == shifts_.begin() ? 0 : std::prev(after)->second;
  return {latest_, before, after == shifts_.end() ? before : after->second};
}

}  // namespace kelpie
