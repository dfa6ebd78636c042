#pragma once

#include "initiator.h"
#include "report.h"

namespace kelpie::bench {

// While on, SIGINT and SIGTERM end the run under way and skip the rest, so
// the work folder is still removed.
void CatchStopSignals(bool on);
bool StopRequested();

// Runs the comparison in a child process, so its peak memory is its own, and
// prints its JSON line. True when the run matched.
bool RunInChild(const RunSetup& setup, const RunLabel& label);

}  // namespace kelpie::bench
