#pragma once

#include <cstdint>
#include <random>
#include <span>

namespace kelpie::bench {

// Reproducible randomness: mt19937_64 is fully specified, and the ranges
// below are drawn by hand, so a seed gives the same files everywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : engine_(seed) {}
  uint64_t Next() { return engine_(); }
  // Uniform in [low, high].
  int64_t Between(int64_t low, int64_t high);
  // True with probability percent / 100.
  bool Percent(int percent) { return Between(0, 99) < percent; }
  void Fill(std::span<char> bytes);

 private:
  std::mt19937_64 engine_;
};

}  // namespace kelpie::bench
