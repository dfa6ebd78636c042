#include "app/pending_offers.h"

#include <utility>

namespace kelpie {

void PendingOffers::Start(const std::string& path, int64_t size) {
  Pending pending{path, size, std::make_unique<FileFingerprints>(), nullptr};
  FileFingerprints* prints = pending.prints.get();
  pending.work = std::make_unique<BackgroundWork>(
      [path, prints](WorkProgress& progress) { *prints = FingerprintFile(path, &progress); });
  pending_.push_back(std::move(pending));
}

std::vector<ReadyOffer> PendingOffers::TakeReady() {
  std::vector<ReadyOffer> ready;
  while (!pending_.empty() && pending_.front().work->Done()) {
    Pending& front = pending_.front();
    ready.push_back({std::move(front.path), front.size, std::move(*front.prints)});
    pending_.pop_front();
  }
  return ready;
}

}  // namespace kelpie
