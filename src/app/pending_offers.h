#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "compare/background_work.h"
#include "compare/fingerprint.h"
#include "compare/prepared_cuts.h"

namespace kelpie {

// A chosen file with its fingerprints, ready to be offered.
struct ReadyOffer {
  std::string path;
  int64_t size = 0;
  FileFingerprints prints;
  std::shared_ptr<const PreparedCuts> cuts{};  // null for a file read at once
};

// Files chosen with "Add File to List" that are too large to fingerprint
// within one main-loop pass: each is read and hashed on a thread of its own,
// so the window and the connections go on meanwhile, and offered once ready,
// in the order they were chosen. Each is also cut for version-2 comparisons
// (and indexed, memory allowing) on a second thread meanwhile, so that no
// comparison has to do it again.
class PendingOffers {
 public:
  // Indexes made at offer time share a part of the machine's memory, or
  // `indexMemory`.
  PendingOffers();
  explicit PendingOffers(std::shared_ptr<IndexMemory> indexMemory)
      : indexMemory_(std::move(indexMemory)) {}

  // With forVersion2, the file is also cut (and indexed) for the version-2
  // comparisons a program speaking only version 1 never makes.
  void Start(const std::string& path, int64_t size, bool forVersion2);
  // The offers at the front whose fingerprints are ready.
  std::vector<ReadyOffer> TakeReady();
  bool empty() const { return pending_.empty(); }

 private:
  struct Pending {
    std::string path;
    int64_t size = 0;
    std::unique_ptr<FileFingerprints> prints;
    std::unique_ptr<std::shared_ptr<const PreparedCuts>> cuts;
    // Last, so they are stopped before what they write into goes.
    std::unique_ptr<BackgroundWork> work;
    std::unique_ptr<BackgroundWork> cutting;
  };
  std::shared_ptr<IndexMemory> indexMemory_;
  std::deque<Pending> pending_;
};

}  // namespace kelpie
