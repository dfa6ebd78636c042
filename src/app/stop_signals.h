#pragma once

namespace kelpie {

// SIGINT and SIGTERM as a request to close the program, as if the user had
// closed the window. The handler only sets a flag and makes a descriptor
// readable, so the main loop's idle wait wakes at once and the pass notices;
// passes are short, so a signal is honoured within a fraction of a second
// whatever the program is doing.
void CatchStopSignals();

// True once a caught signal has arrived.
bool StopSignalled();

// Readable once a caught signal has arrived; -1 before CatchStopSignals.
int StopSignalDescriptor();

}  // namespace kelpie
