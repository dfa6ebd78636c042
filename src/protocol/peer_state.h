#pragma once

#include <cstdint>

#include "compare/entries.h"
#include "transport/endpoints.h"
#include "transport/frames.h"

namespace kelpie {

// Everything one running program holds below its window: the file, client
// and job tables, the endpoints, the frame buffers and the two role flags.
struct PeerState {
  PeerState();

  Tables tables;
  Network network;
  Frames frames{network};
  int32_t ServerRunning = 0;
  ConnectionId ServerConnection = 0;
};

}  // namespace kelpie
