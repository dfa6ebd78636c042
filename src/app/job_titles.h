#pragma once

#include <string>

#include "compare/entries.h"

namespace kelpie {

// The "Action" text of a job's row: Compare, the peer's connection in
// parentheses when it has one, ": ", the quoted local name and, for an
// initiator, " And " and the quoted remote name.
std::string JobRowTitle(const CompareJob& job);

}  // namespace kelpie
