#pragma once

#include <cstdint>

#include "app/fault/fault_codes.h"

namespace kelpie {

// The last fault as the hook recorded it.
struct FaultRecord {
  uint32_t code = kNoFault;
  uint64_t address = 0;          // the faulting instruction
  int32_t module = kMainModule;  // the program statement that was executing
  int32_t line = -1;             // counted from 0; -1 when unknown
  int32_t count = 0;             // every fault so far, silent ones included
};

using FaultCallback = int32_t (*)();

// The process-wide fault hook. It is installed by a constructor of this
// library before main runs (except in sanitizer builds, where the
// sanitizer's own fault handling is left in place).
bool FaultHookInstalled();
FaultRecord LastFault();

// From now on every fault on the calling thread is handed to callback, away
// from the signal context, and the program then resumes after the faulting
// instruction. Faults on other threads stay silent: only the thread that
// owns the window can show a dialog.
void SetFaultCallback(FaultCallback callback);

// Puts back the fault handling that was in place before the hook.
void RemoveFaultHook();

}  // namespace kelpie
