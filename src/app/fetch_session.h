#pragma once

#include <cstdint>
#include <functional>

#include "app/fetch_progress.h"
#include "app/fetch_status.h"
#include "app/peer_options.h"

namespace kelpie {

struct FetchResult {
  FetchFailure failure;     // status kFetchDone when LOCAL now equals the peer's file
  int64_t wireBytes = 0;    // sent and received on the connection
  int64_t reusedBytes = 0;  // of the peer's file, taken from LOCAL or a partial file
  double seconds = 0;
};

using FetchProgressSink = std::function<void(const FetchProgress&)>;

// Rebuilds the server's file options.fetchRemote into options.fetchTo: plays
// the initiator through the window's own commands (Connect, Compare,
// Syncronize, the Save dialog answered with the local path), so the file is
// saved by the same atomic replacement and, with version 2, checked against
// the peer's SHA-256 first. Every pass reports progress. LOCAL is untouched
// by any failure; an interrupted version-2 fetch leaves its partial file
// beside LOCAL for the next run.
FetchResult Fetch(const PeerOptions& options, const FetchProgressSink& progress);

}  // namespace kelpie
