#include "app/pending_offers.h"

#include <utility>

namespace kelpie {
namespace {

// Cuts are kept for as long as the file is listed, about 1/180 of its size:
// a larger file is cut by each comparison instead, as its index is made.
constexpr int64_t kMostCutWhenOffered = int64_t{16} << 30;

}  // namespace

void PendingOffers::Start(const std::string& path, int64_t size) {
  Pending pending{path,
                  size,
                  std::make_unique<FileFingerprints>(),
                  std::make_unique<std::shared_ptr<const PreparedCuts>>(),
                  nullptr,
                  nullptr};
  FileFingerprints* prints = pending.prints.get();
  pending.work = std::make_unique<BackgroundWork>(
      [path, prints](WorkProgress& progress) { *prints = FingerprintFile(path, &progress); });
  std::shared_ptr<const PreparedCuts>* cuts = pending.cuts.get();
  if (size <= kMostCutWhenOffered) {
    pending.cutting = std::make_unique<BackgroundWork>(
        [path, size, cuts](WorkProgress& progress) { *cuts = PrepareCuts(path, size, &progress); });
  }
  pending_.push_back(std::move(pending));
}

std::vector<ReadyOffer> PendingOffers::TakeReady() {
  std::vector<ReadyOffer> ready;
  while (!pending_.empty() && pending_.front().work->Done() &&
         (!pending_.front().cutting || pending_.front().cutting->Done())) {
    Pending& front = pending_.front();
    // Cuts of the file as it was when fingerprinted, or none.
    std::shared_ptr<const PreparedCuts> cuts = std::move(*front.cuts);
    if (cuts && cuts->modified != front.prints->modified) cuts.reset();
    ready.push_back({std::move(front.path), front.size, std::move(*front.prints), std::move(cuts)});
    pending_.pop_front();
  }
  return ready;
}

}  // namespace kelpie
