#pragma once

#include <cstdint>

#include "compare/entries.h"
#include "protocol/messages.h"
#include "protocol/peer_state.h"
#include "protocol/protocol_host.h"

namespace kelpie {

// RefreshFileLists flags.
inline constexpr int32_t kRefreshServerView = 1;  // the left view (the server's files)
inline constexpr int32_t kRefreshClientView = 2;  // the right view (the clients' files)
inline constexpr int32_t kRefreshAskPeers = 4;    // ask the peers again instead of redrawing

// Redraws the file views from the tables, or asks the peers for their lists
// again. Result 0.
int32_t RefreshFileLists(PeerState& state, ProtocolHost& host, int32_t flags);

// Answers a FileList_Get: OK with the count, then one FileList_Add per
// offered file, in table order; a file the connection's protocol version
// cannot carry is left out (ListingFor).
void AnswerFileList(PeerState& state, ProtocolHost& host, ConnectionId connection);

// The message that lists file to the peer on connection: FileList_Add, or
// for a file of 2 GiB or more the version-2 V2FileAdd. Empty for such a file
// on a first-version connection, which the log says once per file.
std::vector<uint8_t> ListingFor(PeerState& state, ProtocolHost& host, ConnectionId connection,
                                FileEntry& file);

// Records a received FileList_Add: the first RemoteFiles entry with the same
// path from the same owner (0 = the server) is updated, else one is appended.
// Then the view of the sender's files is redrawn.
void RecordRemoteFile(PeerState& state, ProtocolHost& host, const FileListAddMessage& message,
                      ConnectionId owner);

}  // namespace kelpie
