#include "compare/hash_behind.h"

#include <algorithm>
#include <utility>

namespace kelpie {
namespace {

// Hashed between two looks at the target and at a stop: a few milliseconds.
constexpr int64_t kHashPiece = int64_t{4} << 20;

}  // namespace

HashBehind::HashBehind(Feed feed) : feed_(std::move(feed)), thread_([this] { Run(); }) {}

HashBehind::~HashBehind() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void HashBehind::Advance(int64_t upTo, int64_t behind) {
  std::unique_lock lock(mutex_);
  if (upTo > target_) {
    target_ = upTo;
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return target_ - hashed_ <= behind; });
}

WholeFileHash HashBehind::Finish(int64_t end) {
  Advance(end);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return hashed_ >= target_; });
  const WholeFileHash digest = stream_->Finish();
  stream_ = std::make_unique<Sha256Stream>();
  hashed_ = target_ = 0;
  return digest;
}

void HashBehind::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || hashed_ < target_; });
    if (stopping_) return;
    const int64_t from = hashed_;
    const int64_t to = std::min(target_, from + kHashPiece);
    // Only this thread touches the stream while bytes wait to be hashed.
    lock.unlock();
    feed_(from, to, *stream_);
    lock.lock();
    hashed_ = to;
    changed_.notify_all();
  }
}

}  // namespace kelpie
