#include "compare/background_work.h"

#include <system_error>
#include <utility>

namespace kelpie {

BackgroundWork::BackgroundWork(Task task) {
  auto run = [this, task = std::move(task)] {
    task(progress_);
    done_.store(true, std::memory_order_release);
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
