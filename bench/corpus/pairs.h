#pragma once

#include <functional>
#include <string>
#include <vector>

#include "pair_request.h"

namespace kelpie::bench {

struct PairKind {
  std::string name;
  std::string description;  // one line
  std::function<bool(const PairRequest&)> write;
};

// Every pair the corpus can make, in the order "all" runs them.
const std::vector<PairKind>& PairKinds();
const PairKind* FindPair(const std::string& name);

}  // namespace kelpie::bench
