#include "compare/background_work.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>
#include <utility>

namespace kelpie {
namespace {

int DoneEvent() {
  static const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return fd;
}

void SignalDone() {
  const uint64_t one = 1;
  if (DoneEvent() >= 0) (void)!::write(DoneEvent(), &one, sizeof one);
}

}  // namespace

int BackgroundDoneDescriptor() {
  return DoneEvent();
}

void DrainBackgroundDone() {
  uint64_t count = 0;
  if (DoneEvent() >= 0) (void)!::read(DoneEvent(), &count, sizeof count);
}

BackgroundWork::BackgroundWork(Task task) {
  auto run = [this, task = std::move(task)] {
    task(progress_);
    done_.store(true, std::memory_order_release);
    SignalDone();
  };
  try {
    thread_ = std::thread(run);
  } catch (const std::system_error&) {
    // No thread to be had: the work is done now rather than never.
    run();
  }
}

BackgroundWork::~BackgroundWork() {
  progress_.RequestStop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace kelpie
