#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace kelpie {

// What a task running beside the main loop says of itself and is told: how
// many bytes it has got through, and whether to give up.
class WorkProgress {
 public:
  bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }
  void SetDone(int64_t bytes) { done_.store(bytes, std::memory_order_relaxed); }
  int64_t done() const { return done_.load(std::memory_order_relaxed); }
  void RequestStop() { stop_.store(true, std::memory_order_relaxed); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> done_{0};
};

// One task run on a thread of its own, so that long work on a file (hashing
// or indexing gigabytes) never holds up the main loop. The task writes its
// result where its owner reads it once Done() says so. Destroying the work
// asks the task to stop and waits for it, so a task checks StopRequested()
// every few milliseconds.
class BackgroundWork {
 public:
  using Task = std::function<void(WorkProgress&)>;

  explicit BackgroundWork(Task task);
  ~BackgroundWork();
  BackgroundWork(const BackgroundWork&) = delete;
  BackgroundWork& operator=(const BackgroundWork&) = delete;

  // True once the task has returned; everything it wrote is then visible.
  bool Done() const { return done_.load(std::memory_order_acquire); }
  int64_t BytesDone() const { return progress_.done(); }

 private:
  WorkProgress progress_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Readable once any background work has finished since the last Drain, so
// that a main loop waiting on its descriptors wakes up for the result at
// once; -1 when none could be made.
int BackgroundDoneDescriptor();
void DrainBackgroundDone();

}  // namespace kelpie
