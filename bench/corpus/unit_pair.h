#pragma once

#include <functional>
#include <string>

#include "pair_request.h"
#include "rng.h"

namespace kelpie::bench {

// Makes the next unit of a file: a line, a sentence, a record.
using UnitSource = std::function<std::string()>;
// What the peer holds in place of a unit: "" deletes it, the unit with more
// after it inserts, anything else replaces it.
using UnitEdit = std::function<std::string(const std::string& unit)>;

// Writes a local file of about request.size bytes of units from `next`, and
// the peer's version: the same units but at `edits` places spread at random
// over the file, where `edit` decides what the peer holds. Streams: no file
// is ever held whole.
bool WriteUnitPair(const PairRequest& request, int edits, Rng& rng, const UnitSource& next,
                   const UnitEdit& edit);

}  // namespace kelpie::bench
