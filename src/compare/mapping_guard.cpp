#include "compare/mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace kelpie {
namespace {

// Lock-free, so the signal handler can read them at any moment.
struct Slot {
  std::atomic<bool> claimed{false};
  std::atomic<uintptr_t> begin{0};  // 0 while the slot guards nothing
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> damaged{false};
};

constexpr size_t kSlots = 1024;
std::array<Slot, kSlots> slots;
struct sigaction previous {};
std::once_flag installed;

void PassOn(int signal, siginfo_t* info, void* context) {
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler == SIG_IGN) return;
  if (previous.sa_handler != SIG_DFL) {
    previous.sa_handler(signal);
    return;
  }
  // The default action: the access faults again and the process ends.
  ::signal(signal, SIG_DFL);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Slot& slot : slots) {
    const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    if (begin == 0 || address < begin || address >= slot.end.load(std::memory_order_acquire)) {
      continue;
    }
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    void* at = reinterpret_cast<void*>(address & ~(page - 1));
    // A private zero page over the lost one; the access is retried on it.
    if (::mmap(at, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
        MAP_FAILED) {
      break;
    }
    slot.damaged.store(true, std::memory_order_release);
    return;
  }
  PassOn(signal, info, context);
}

void Install() {
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &previous);
}

}  // namespace

size_t MappingLength(int64_t size) {
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return (static_cast<size_t>(size) + page - 1) / page * page;
}

MappingGuard::MappingGuard(void* begin, size_t length) {
  if (begin == nullptr || length == 0) return;
  std::call_once(installed, Install);
  for (size_t i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (!slots[i].claimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
      continue;
    }
    // The handler looks at a slot only once its begin is set, after its end.
    slots[i].damaged.store(false, std::memory_order_relaxed);
    slots[i].end.store(reinterpret_cast<uintptr_t>(begin) + length, std::memory_order_release);
    slots[i].begin.store(reinterpret_cast<uintptr_t>(begin), std::memory_order_release);
    slot_ = static_cast<int>(i);
    return;
  }
}

MappingGuard::~MappingGuard() {
  if (slot_ < 0) return;
  slots[static_cast<size_t>(slot_)].begin.store(0, std::memory_order_release);
  slots[static_cast<size_t>(slot_)].claimed.store(false, std::memory_order_release);
}

bool MappingGuard::Damaged() const {
  return slot_ >= 0 && slots[static_cast<size_t>(slot_)].damaged.load(std::memory_order_acquire);
}

}  // namespace kelpie
