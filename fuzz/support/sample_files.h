#pragma once

#include <string>

namespace kelpie::fuzz {

// The files the whole-program targets offer. They live at fixed paths, one
// folder per role, so that a seed naming one (in a Compare_Start, say) names
// it in every run and the server and client targets can run side by side;
// they are made once per process, and only where missing or different.
struct SampleFiles {
  std::string mixed;    // text, a long run of zeros and noise: 12 KiB
  std::string empty;    // 0 bytes
  std::string small;    // 1500 bytes of text
  std::string missing;  // never exists
  std::string saveAs;   // where a finished synchronisation is saved; this process's own
};

const SampleFiles& Samples(bool serverRole);

// Removes what an earlier run left beside the samples (an interrupted
// synchronisation's partial file), so that every run starts alike.
void ClearLeftovers(const SampleFiles& samples);

}  // namespace kelpie::fuzz
