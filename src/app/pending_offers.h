#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "compare/background_work.h"
#include "compare/fingerprint.h"

namespace kelpie {

// A chosen file with its fingerprints, ready to be offered.
struct ReadyOffer {
  std::string path;
  int64_t size = 0;
  FileFingerprints prints;
};

// Files chosen with "Add File to List" that are too large to fingerprint
// within one main-loop pass: each is read and hashed on a thread of its own,
// so the window and the connections go on meanwhile, and offered once ready,
// in the order they were chosen.
class PendingOffers {
 public:
  void Start(const std::string& path, int64_t size);
  // The offers at the front whose fingerprints are ready.
  std::vector<ReadyOffer> TakeReady();
  bool empty() const { return pending_.empty(); }

 private:
  struct Pending {
    std::string path;
    int64_t size = 0;
    std::unique_ptr<FileFingerprints> prints;
    // Last, so it is stopped before what it writes into goes.
    std::unique_ptr<BackgroundWork> work;
  };
  std::deque<Pending> pending_;
};

}  // namespace kelpie
