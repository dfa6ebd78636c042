#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "compare/chunk_index.h"
#include "compare/comparison_strategy.h"
#include "compare/fingerprint.h"
#include "compare/found_shifts.h"
#include "compare/loaded_files.h"
#include "compare/range_search.h"
#include "compare/rebuild_file.h"
#include "compare/record_list.h"
#include "compare/table.h"

namespace kelpie {

// A positive number naming one open TCP connection; 0 means none.
using ConnectionId = int32_t;

inline constexpr int32_t kMaxBlockSize = 524288;
inline constexpr int32_t kMinBlockSize = 1024;

// One file offered by this side (LocalFiles) or by a peer (RemoteFiles).
struct FileEntry {
  std::string path;  // full path, exactly as its owner names it
  int64_t size = 0;  // bytes when the entry was made
  std::string md5;   // whole-file fingerprint, "" when unreadable
  // Server side, RemoteFiles: the connection of the client that offered the
  // file; 0 on the client side and in LocalFiles.
  ConnectionId owner = 0;
  // LocalFiles: the number a responder names this file by (never 0).
  int32_t fileId = 0;
  // LocalFiles: the SHA-256 and modification time read with md5, so that a
  // version-2 acceptance need not read the whole file again while it is
  // unchanged.
  WholeFileHash sha256{};
  int64_t modified = -1;
  // LocalFiles: its cuts, made with them for a large file (null otherwise),
  // so that a version-2 comparison on it need not cut it again.
  std::shared_ptr<const PreparedCuts> cuts{};
  // LocalFiles: the log has said the file is too large for a first-version
  // peer.
  bool toldTooLarge = false;
};

// Server role: one connected client.
struct ClientEntry {
  ConnectionId connection = 0;
};

enum JobState : int32_t {
  kRequested = 0,
  kComparing = 1,
  kIdle = 2,
  kSynchronising = 3,
  kAwaitingData = 4,
};

// Block list records use the format "lqqqs" with these fields: offsets and
// lengths are 64-bit, for files of any size.
inline constexpr char kBlockFormat[] = "lqqqs";
enum BlockField : int32_t {
  kBlockState = 0,
  kBlockStart = 1,
  kBlockLen = 2,
  kBlockFound = 3,
  kBlockMd5 = 4,
};
enum BlockState : int32_t {
  kQueued = 0,
  kNext = 1,
  kSent = 2,
  kSplit = 3,
  kSettled = 4,
};

// What a job keeps of a file table entry. Jobs hold copies, so clearing the
// file tables never leaves a job pointing at a removed entry.
struct JobFile {
  std::string path;
  int64_t size = 0;
};

// A block that can supply the new file's bytes from found on: answered
// (Split or Settled), not empty, and lying inside the new file.
struct SyncSource {
  int64_t found = 0;
  int64_t start = 0;
  int64_t len = 0;
};

// The usable blocks of a job ordered by found, ties in list order, so a
// synchronisation step finds the block found at its position, and the next
// offset where one begins, without walking the block list.
struct SyncIndex {
  int32_t version = -1;  // blocksVersion it was built from; -1 = not built
  std::vector<SyncSource> sources;
};

// A Get the peer has not fully answered.
struct PendingGet {
  uint32_t request = 0;
  int64_t len = 0;
  int64_t received = 0;
};

// Checks a version-2 responder received before it could answer them, and
// the hashes of their first ranges' bytes at their own offsets, made while
// the file's index is still being built (none for a range past the data).
struct WaitingChecks {
  uint32_t batch = 0;
  std::vector<RangeCheck> ranges;
  std::vector<std::optional<uint64_t>> ownHashes;
};

// One comparison, and later synchronisation, of a local file with a remote
// one. The initiator has a remote file and a block list; a responder has
// neither.
struct CompareJob {
  int32_t state = kRequested;
  int32_t fileId = 0;
  int64_t position = 0;
  // The local file, shared with every other job on it, and its bytes; empty
  // when its size is 0.
  std::shared_ptr<LoadedFile> loaded;
  std::span<const uint8_t> data;
  std::unique_ptr<RebuildFile> rebuilt;  // the peer's file being assembled
  JobFile localFile;
  std::optional<JobFile> remoteFile;
  RecordListPtr blocks;
  ConnectionId peer = 0;  // server side: the client on the other end
  // Names this job for the life of the process, so displays can keep what
  // they drew of it; 0 for a job made outside the engine.
  uint64_t serial = 0;
  bool fileChanged = false;  // the local file shrank under the job; said once

  // Initiator: how this job's protocol version compares and fetches.
  std::unique_ptr<ComparisonStrategy> strategy;

  // Responder: what earlier checks learned about data (made on first use).
  std::unique_ptr<RangeSearch> search;
  // Responder, version 2: every content-defined range of data, by fingerprint.
  std::shared_ptr<const ChunkIndex> chunkIndex;
  // Responder, version 2: the file's SHA-256 and index are still being made
  // beside the main loop. The acceptance, when it needs the SHA-256, and the
  // checks that arrive meanwhile wait, in order, until they are ready.
  bool preparing = false;
  bool acceptancePending = false;
  std::deque<WaitingChecks> waitingChecks;
  size_t waitingRanges = 0;
  // Responder, version 2: how far from their own offsets ranges were found,
  // which tells where a range the index does not hold is tried.
  FoundShifts foundShifts;

  // Initiator, synchronising: the next offset of the new file to copy or ask
  // for, and the Gets outstanding by offset. position is where the first
  // outstanding Get still lacks bytes, or fetchPosition when none is.
  int64_t fetchPosition = 0;
  std::map<int64_t, PendingGet> pendingGets;
  uint32_t lastRequest = 0;  // number of the last Get asked

  // Initiator caches over blocks, kept by the engine so that a pass or an
  // answer never walks the list from the front. Every record before the
  // active one is Split or Settled and every record after it is Queued.
  uint8_t* activeBlock = nullptr;  // the record in state Next or Sent; null when none
  int32_t openBlocks = 0;          // records in state Queued, Next or Sent
  int32_t blocksVersion = 0;       // bumped whenever a record is added or answered
  SyncIndex syncIndex;             // built when synchronisation starts or blocks changed
};

// The tables of one running program that the comparison layer works on.
// (Receive buffers belong to the frame layer.)
struct Tables {
  Table<FileEntry> LocalFiles;
  Table<FileEntry> RemoteFiles;
  Table<ClientEntry> Clients;
  Table<CompareJob> CompareJobs;
  int32_t MaxBlockSize = kMaxBlockSize;
  int32_t MinBlockSize = kMinBlockSize;
  // Next responder file number; seeded at random per program so that the
  // numbers two peers hand out rarely coincide.
  int32_t nextFileId = 1;
  LoadedFiles loadedFiles;
};

}  // namespace kelpie
