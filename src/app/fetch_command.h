#pragma once

#include "app/peer_options.h"

namespace kelpie {

// kelpie-peer --fetch: runs the fetch with a progress line on standard error
// when that is a terminal, then prints the summary line (standard output) or
// the error (standard error). Returns the exit status.
int RunFetchCommand(const PeerOptions& options);

}  // namespace kelpie
