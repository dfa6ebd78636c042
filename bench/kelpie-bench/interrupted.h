#pragma once

#include "initiator.h"
#include "report.h"

namespace kelpie::bench {

// Runs the pair twice against one kelpie-peer that keeps listening, as a
// server would: the first initiator is killed (SIGKILL) halfway through the
// synchronisation, the second starts again from the same files. Prints a
// JSON line for each; true when the second matched.
bool RunInterrupted(RunSetup setup, RunLabel label);

}  // namespace kelpie::bench
