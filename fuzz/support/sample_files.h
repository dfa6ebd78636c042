#pragma once

#include <string>

namespace kelpie::fuzz {

// The files the whole-program targets offer. They live at fixed paths, so
// that a seed naming one (in a Compare_Start, say) names it in every run;
// they are made once per process, and only where missing or different.
struct SampleFiles {
  std::string mixed;    // text, a long run of zeros and noise: 12 KiB
  std::string empty;    // 0 bytes
  std::string small;    // 1500 bytes of text
  std::string missing;  // never exists
  std::string saveAs;   // where a finished synchronisation is saved; this process's own
};

const SampleFiles& Samples();

}  // namespace kelpie::fuzz
