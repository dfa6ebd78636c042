#include "support/table_checks.h"

#include <algorithm>
#include <set>

#include "compare/block_list.h"
#include "compare/version1_strategy.h"
#include "support/require.h"

namespace kelpie::fuzz {
namespace {

bool Contains(std::span<const ConnectionId> ids, ConnectionId id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The records that are not Split lie end to end over the whole local file,
// each inside it; a Split record comes before the parts it was cut into.
void CheckCover(const CompareJob& job) {
  const auto size = static_cast<int64_t>(job.data.size());
  int64_t covered = 0;
  for (const uint8_t* record = PeekFirstRecord(job.blocks.get()); record != nullptr;
       record = PeekNextRecord(record)) {
    const int64_t state = BlockValue(job, record, kBlockState);
    const int64_t start = BlockValue(job, record, kBlockStart);
    const int64_t len = BlockValue(job, record, kBlockLen);
    Require(state >= kQueued && state <= kSettled, "a block is in one of its states");
    Require(start == covered, "blocks follow each other without gap or overlap");
    Require(len >= 0 && len <= size - start, "a block lies inside the local file");
    if (state != kSplit) covered += len;
  }
  Require(covered == size, "the blocks cover the local file");
}

// The first version's order: at most one active record (Next or Sent), the
// answered ones before it, the queued ones behind it, and the count of open
// records kept beside the list.
void CheckVersion1Order(const CompareJob& job) {
  int32_t open = 0;
  bool pastActive = job.activeBlock == nullptr;
  for (const uint8_t* record = PeekFirstRecord(job.blocks.get()); record != nullptr;
       record = PeekNextRecord(record)) {
    const int64_t state = BlockValue(job, record, kBlockState);
    if (record == job.activeBlock) {
      Require(state == kNext || state == kSent, "the active block is Next or Sent");
      pastActive = true;
    } else if (pastActive) {
      Require(job.activeBlock == nullptr ? state == kSplit || state == kSettled : state == kQueued,
              "behind the active block every block is Queued");
    } else {
      Require(state == kSplit || state == kSettled,
              "before the active block every block is answered");
    }
    if (state == kQueued || state == kNext || state == kSent) ++open;
  }
  Require(pastActive, "the active block is in the list");
  Require(open == job.openBlocks, "the count of open blocks is right");
}

// Synchronising: everything before position is there, the Gets outstanding
// lie between it and fetchPosition in order, and the new file has the
// peer's size.
void CheckSynchronisation(const CompareJob& job) {
  Require(job.rebuilt != nullptr, "a synchronising job has its new file");
  const int64_t newSize = job.rebuilt->size();
  Require(newSize == std::max<int64_t>(job.remoteFile->size, 0),
          "the new file has the peer's size");
  Require(job.position >= 0 && job.position <= job.fetchPosition && job.fetchPosition <= newSize,
          "position <= fetchPosition <= the new file's size");
  Require(job.state != kAwaitingData || !job.pendingGets.empty(), "a job awaits data it asked for");
  int64_t end = 0;  // where the Get before ends
  for (const auto& [offset, get] : job.pendingGets) {
    Require(get.received >= 0 && get.received < get.len, "an outstanding Get lacks bytes");
    Require(offset >= end, "outstanding Gets do not overlap");
    Require(offset + get.len <= job.fetchPosition, "a Get lies before fetchPosition");
    Require(get.request != 0 && get.request <= job.lastRequest, "a Get has a number given");
    end = offset + get.len;
  }
  if (!job.pendingGets.empty()) {
    const auto& [offset, get] = *job.pendingGets.begin();
    Require(job.position == offset + get.received, "position is where the first Get lacks bytes");
  }
}

void CheckJob(const CompareJob& job, bool serverRole, std::span<const ConnectionId> clients) {
  Require(job.state >= kRequested && job.state <= kAwaitingData, "a job is in one of its states");
  Require(serverRole ? Contains(clients, job.peer) : job.peer == 0, "a job's peer is connected");
  Require(job.loaded != nullptr, "a job has its local file");
  Require(job.data.data() == job.loaded->bytes().data() &&
              job.data.size() == job.loaded->bytes().size(),
          "a job's data are its local file's bytes");
  if (!job.remoteFile) {
    Require(!job.blocks && !job.rebuilt && job.pendingGets.empty(),
            "a responder keeps no blocks and builds no file");
    Require(job.state == kRequested || job.state == kIdle,
            "a responder waits, or is Idle once the user aborted it");
    return;
  }
  Require(job.strategy != nullptr && job.blocks != nullptr,
          "an initiator has its strategy and blocks");
  CheckCover(job);
  if (dynamic_cast<const Version1Strategy*>(job.strategy.get()) != nullptr) CheckVersion1Order(job);
  if (job.state == kSynchronising || job.state == kAwaitingData) CheckSynchronisation(job);
}

}  // namespace

void CheckTables(const PeerState& state, bool serverRole, std::span<const ConnectionId> clients) {
  const Tables& tables = state.tables;
  std::set<int32_t> fileIds;
  for (const FileEntry& file : tables.LocalFiles) {
    Require(file.owner == 0 && file.fileId != 0, "a local file has a number and no owner");
    Require(fileIds.insert(file.fileId).second, "local file numbers differ");
  }
  for (const FileEntry& file : tables.RemoteFiles) {
    Require(serverRole ? Contains(clients, file.owner) : file.owner == 0,
            "a listed file's owner is connected");
  }
  std::set<ConnectionId> listed;
  for (const ClientEntry& client : tables.Clients) {
    Require(listed.insert(client.connection).second, "a client is listed once");
  }
  Require(listed == std::set<ConnectionId>(clients.begin(), clients.end()),
          "the listed clients are the connected ones");
  for (ConnectionId connection : state.version2Connections) {
    Require(serverRole ? Contains(clients, connection) : connection == state.ServerConnection,
            "version 2 is known only of open connections");
  }
  for (const CompareJob& job : tables.CompareJobs)
    CheckJob(job, serverRole, clients);
}

}  // namespace kelpie::fuzz
