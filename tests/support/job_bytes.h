#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "compare/entries.h"

namespace kelpie {

// Gives a job made by hand these bytes as its local file.
inline void SetJobData(CompareJob& job, std::vector<uint8_t> bytes) {
  job.loaded = std::make_shared<LoadedFile>();
  job.loaded->view = MappedFile::Hold(std::move(bytes));
  job.data = job.loaded->bytes();
}

inline std::vector<uint8_t> Bytes(std::span<const uint8_t> bytes) {
  return {bytes.begin(), bytes.end()};
}

// The peer's file as the job has assembled it so far; empty when none.
inline std::vector<uint8_t> NewBytes(const CompareJob& job) {
  return job.rebuilt ? Bytes(job.rebuilt->bytes()) : std::vector<uint8_t>{};
}

}  // namespace kelpie
