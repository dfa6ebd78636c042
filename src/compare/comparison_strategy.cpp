#include "compare/comparison_strategy.h"

#include "compare/entries.h"
#include "compare/version1_strategy.h"
#include "compare/version2_strategy.h"

namespace kelpie {

std::unique_ptr<ComparisonStrategy> MakeStrategy(int32_t netVersion) {
  if (netVersion >= 2) return std::make_unique<Version2Strategy>();
  return std::make_unique<Version1Strategy>();
}

ComparisonStrategy& StrategyOf(CompareJob& job) {
  static Version1Strategy version1;
  return job.strategy ? *job.strategy : version1;
}

}  // namespace kelpie
