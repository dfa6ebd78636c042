#pragma once

#include <cstdint>
#include <optional>

#include "compare/entries.h"

namespace kelpie {

// Rebuilds the job's index of usable blocks when the block list changed since
// it was made. A block is usable when it is Split or Settled, not empty, and
// both its bytes in data and its found range in the new file exist.
void RefreshSyncIndex(CompareJob& job);

// The first usable block, in list order, found at position; none when there
// is none, and then next is the smallest found offset beyond position, or
// newSize when no usable block begins there. fromWithin: a block found before
// position that reaches past it serves too, from position on (the part of it
// that is left).
std::optional<SyncSource> FindSyncSource(const SyncIndex& index, int64_t position, int64_t newSize,
                                         int64_t& next, bool fromWithin);

}  // namespace kelpie
