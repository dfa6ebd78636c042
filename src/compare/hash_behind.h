#pragma once

#include <climits>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "compare/fingerprint.h"

namespace kelpie {

// The SHA-256 of bytes that become final front to back, made on a thread of
// its own while the writer goes on: a file being assembled is then hashed on
// another core as it fills instead of after it. Advance says how far the
// bytes are final; Finish waits for the hash of all of them. `feed` hashes
// [from, to) into the stream it is given; it runs on the thread, only ever
// on bytes before the last Advance.
class HashBehind {
 public:
  using Feed = std::function<void(int64_t from, int64_t to, Sha256Stream& stream)>;

  explicit HashBehind(Feed feed);
  // Stops after the piece under way and waits for the thread.
  ~HashBehind();
  HashBehind(const HashBehind&) = delete;
  HashBehind& operator=(const HashBehind&) = delete;

  // Bytes before upTo are final. Waits while more than `behind` bytes of
  // them are still to be hashed, so the hash is never far behind the writer
  // and Finish never waits long.
  void Advance(int64_t upTo, int64_t behind = INT64_MAX);
  // The SHA-256 of [0, end), once every byte of it is hashed; the next hash
  // starts again from 0.
  WholeFileHash Finish(int64_t end);

 private:
  void Run();

  Feed feed_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int64_t target_ = 0;  // bytes final so far
  int64_t hashed_ = 0;  // bytes in stream_
  bool stopping_ = false;
  std::unique_ptr<Sha256Stream> stream_ = std::make_unique<Sha256Stream>();
  std::thread thread_;  // last, so it starts once everything above is made
};

}  // namespace kelpie
