#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "compare/range_search.h"
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
  int32_t size = 0;  // bytes when the entry was made
  std::string md5;   // whole-file fingerprint, "" when unreadable
  // Server side, RemoteFiles: the connection of the client that offered the
  // file; 0 on the client side and in LocalFiles.
  ConnectionId owner = 0;
  // LocalFiles: the number a responder names this file by (never 0).
  int32_t fileId = 0;
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

// Block list records use the format "lllls" with these fields.
inline constexpr char kBlockFormat[] = "lllls";
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
  int32_t size = 0;
};

// One comparison, and later synchronisation, of a local file with a remote
// one. The initiator has a remote file and a block list; a responder has
// neither.
struct CompareJob {
  int32_t state = kRequested;
  int32_t fileId = 0;
  int32_t position = 0;
  std::vector<uint8_t> data;     // the whole local file; empty when its size is 0
  std::vector<uint8_t> newData;  // the peer's file being assembled
  JobFile localFile;
  std::optional<JobFile> remoteFile;
  RecordListPtr blocks;
  ConnectionId peer = 0;  // server side: the client on the other end

  // Responder: what earlier checks learned about data (made on first use).
  std::unique_ptr<RangeSearch> search;
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
};

}  // namespace kelpie
