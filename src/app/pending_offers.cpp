#include "app/pending_offers.h"

#include <unistd.h>

#include <utility>

namespace kelpie {
namespace {

// Cuts are kept for as long as the file is listed, about 1/180 of its size:
// a larger file is cut by each comparison instead, as its index is made.
constexpr int64_t kMostCutWhenOffered = int64_t{16} << 30;
// Indexes made at offer time are kept for as long as their files are listed,
// about 1/47 of each: together they may take this share of the memory, and
// files offered beyond it are only cut.
constexpr int64_t kMemoryPerIndexByte = 32;

int64_t PhysicalMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? int64_t{pages} * pageSize : int64_t{1} << 30;
}

}  // namespace

PendingOffers::PendingOffers()
    : PendingOffers(std::make_shared<IndexMemory>(PhysicalMemory() / kMemoryPerIndexByte)) {}

void PendingOffers::Start(const std::string& path, int64_t size, bool forVersion2) {
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
  if (forVersion2 && size <= kMostCutWhenOffered) {
    std::shared_ptr<IndexMemory::Share> share = indexMemory_->Take(IndexMemory::EstimateFor(size));
    pending.cutting = std::make_unique<BackgroundWork>(
        [path, size, cuts, share = std::move(share)](WorkProgress& progress) {
          *cuts = PrepareCuts(path, size, &progress, share);
        });
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
    if (!CutsFit(cuts.get(), front.size, front.prints->modified)) cuts.reset();
    ready.push_back({std::move(front.path), front.size, std::move(*front.prints), std::move(cuts)});
    pending_.pop_front();
  }
  return ready;
}

}  // namespace kelpie
