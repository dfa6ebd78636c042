#pragma once

#include <cstdio>
#include <cstdlib>

namespace kelpie::fuzz {

// A broken property ends the run as a crash, so libFuzzer keeps the input.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace kelpie::fuzz
