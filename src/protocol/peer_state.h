#pragma once

#include <chrono>
#include <cstdint>
#include <set>

#include "compare/entries.h"
#include "transport/endpoints.h"
#include "transport/frames.h"

namespace kelpie {

// Version-2 connections: a keep-alive goes out after this long without
// sending, and a peer not heard from for the silence limit is given up.
inline constexpr std::chrono::milliseconds kKeepAliveInterval{15000};
inline constexpr std::chrono::milliseconds kSilenceLimit{45000};

// Everything one running program holds below its window: the file, client
// and job tables, the endpoints, the frame buffers and the two role flags.
struct PeerState {
  PeerState();

  Tables tables;
  Network network;
  Frames frames{network};
  int32_t ServerRunning = 0;
  ConnectionId ServerConnection = 0;
  // The highest protocol version this program speaks: 2, or 1 when it is
  // held to the first version.
  int32_t NetVersion = 2;
  // Connections on which both sides have said they speak version 2.
  std::set<ConnectionId> version2Connections;
  // When the main-loop pass under way stops taking messages (message_turns.h),
  // and the connections whose messages it left for the next pass.
  std::chrono::steady_clock::time_point passDeadline = std::chrono::steady_clock::time_point::max();
  std::set<ConnectionId> unfinishedInput;
  // The client whose turn it is to be served first among those waiting.
  ConnectionId nextClientTurn = 0;
  // Tests shorten them.
  std::chrono::milliseconds keepAliveInterval = kKeepAliveInterval;
  std::chrono::milliseconds silenceLimit = kSilenceLimit;
  // The server connection whose loss the log has told of.
  ConnectionId lostServer = 0;

  bool PassTimeLeft() const { return std::chrono::steady_clock::now() < passDeadline; }

  // The protocol version in use on a connection: 2 or 1.
  int32_t ConnectionVersion(ConnectionId connection) const;
  // Forgets what was learned of a connection that closed.
  void Forget(ConnectionId connection);
};

}  // namespace kelpie
