#include "compare/engine.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <string>

#include "compare/block_list.h"
#include "compare/fingerprint.h"
#include "compare/sync.h"

// How two copies of a file are compared.
//
// The engine owns the jobs; how a job's ranges are checked and fetched is its
// strategy's, chosen once from the protocol version of the job's connection.
// What follows is the first version (version1_strategy.cpp); the second
// (version2_strategy.cpp) cuts ranges by content, checks many at once and
// settles a range found anywhere whole.
//
// The initiator maps its local file (loaded_files.h) and cuts it into ranges of
// MaxBlockSize bytes. It checks one range at a time: the check carries the
// range's offset, length, first four bytes (StartLong) and MD5, and the
// responder answers with the offset at which its own copy holds the same
// bytes (the range's own offset first, else the lowest such offset), or -1.
//
// A range found at its own offset is Settled. A range found elsewhere, or not
// at all, is halved while it is at least MinBlockSize bytes long, and both
// halves are checked in turn: the first half at once, the second when
// everything in front of it is answered. The checks therefore go depth first
// and in ascending file order, and the block list ends up describing, piece
// by piece, which bytes the peer holds and where. A Split range keeps its own
// answer, so a range that merely moved can later be copied whole.
//
// One check per job is outstanding at a time, and each pass of the main loop
// sends at most one check per job. When no range is left open the comparison
// is finished and the responder is told with Compare_Stop; the answers are
// then what synchronisation (sync.cpp) rebuilds the peer's file from.

namespace kelpie {
namespace {

constexpr char kFileChangedLine[] = "File changed while in use, job ended: ";

// Unique across every program in the process; never 0.
uint64_t NextJobSerial() {
  static std::atomic<uint64_t> next{1};
  return next++;
}

}  // namespace

FileEntry* FindLocalFile(Tables& tables, std::string_view path) {
  tables.LocalFiles.Reset();
  while (FileEntry* entry = tables.LocalFiles.Next()) {
    if (entry->path == path) return entry;
  }
  return nullptr;
}

CompareJob* StartComparison(Tables& tables, EngineHost& host, const FileEntry& local,
                            const FileEntry& remote) {
  CompareJob probe;
  probe.peer = remote.owner;
  const int32_t version = host.PeerVersion(probe);
  // The first version's messages carry 32-bit offsets.
  if (version < 2 && std::max(local.size, remote.size) > INT32_MAX) {
    host.AddLog(local.path + " is too large for this peer");
    return nullptr;
  }
  CompareJob& job = *tables.CompareJobs.Append();
  job.serial = NextJobSerial();
  job.localFile = JobFile{local.path, local.size};
  job.remoteFile = JobFile{remote.path, remote.size};
  job.peer = remote.owner;
  job.strategy = MakeStrategy(version);
  job.strategy->SendStart(job, host, tables);
  // An unreadable file is compared as zeros; the synchronisation then fetches
  // whatever of the peer's file they do not match.
  job.loaded = tables.loadedFiles.Open(job.localFile.path, job.localFile.size);
  if (!job.loaded) {
    job.loaded = std::make_shared<LoadedFile>();
    job.loaded->view = MappedFile::Zeros(job.localFile.size);
    if (!job.loaded->view) job.loaded->view = MappedFile::Hold({});
  }
  job.loaded->UseCuts(local.cuts);
  job.data = job.loaded->bytes();
  job.strategy->Prepare(job, tables);
  host.UpdateJobList(kRebuildJobList);
  return &job;
}

Acceptance AcceptComparison(Tables& tables, std::string_view path, ConnectionId peer,
                            int64_t largest) {
  FileEntry* entry = FindLocalFile(tables, path);
  if (entry == nullptr || entry->size > largest) return {nullptr, kNotListed};
  std::shared_ptr<LoadedFile> loaded = tables.loadedFiles.Open(entry->path, entry->size);
  if (!loaded) return {nullptr, kCannotOpen};
  loaded->UseCuts(entry->cuts);
  if (entry->fileId == 0) entry->fileId = NewFileId(tables);
  CompareJob& job = *tables.CompareJobs.Append();
  job.serial = NextJobSerial();
  job.localFile = JobFile{entry->path, entry->size};
  job.fileId = entry->fileId;
  job.peer = peer;
  job.loaded = std::move(loaded);
  job.data = job.loaded->bytes();
  return {&job, kNotListed, entry};
}

bool FileChangedUnder(CompareJob& job, EngineHost& host) {
  if (!job.loaded || !job.loaded->view->Damaged()) return false;
  if (job.fileChanged) return true;
  job.fileChanged = true;
  host.AddLog(std::string(kFileChangedLine) + job.localFile.path);
  if (job.remoteFile && job.state != kIdle) {
    AbortJob(job, host);
    job.pendingGets.clear();
    // Bytes copied from the changed file may be wrong: none are kept.
    if (job.rebuilt) job.rebuilt->Discard();
    job.rebuilt.reset();
  }
  host.UpdateJobList(kRepaintJobList);
  return true;
}

void RunComparisons(Tables& tables, EngineHost& host) {
  WalkTable(tables.CompareJobs, [&host](CompareJob& job) {
    if (FileChangedUnder(job, host)) return;
    if (job.state == kComparing) StrategyOf(job).CompareStep(job, host);
    if (job.state == kSynchronising) SyncStep(job, host);
  });
}

int32_t CheckRange(CompareJob& job, int32_t start, int32_t len, int32_t startLong,
                   std::string_view md5) {
  if (job.data.empty() || len < 0 || static_cast<size_t>(len) > job.data.size()) return -1;
  // Every search of one file shares the file's index, made beside the loop.
  if (!job.search)
    job.search = std::make_unique<RangeSearch>(job.data, RangeSearchOptions{}, job.loaded.get());
  return job.search->Find(start, len, startLong, md5);
}

int32_t ApplyCheckAnswer(Tables& tables, ConnectionId peer, int32_t fileId, int32_t found) {
  const int64_t answer = found;
  return ApplyCheckAnswers(tables, peer, fileId, 0, std::span(&answer, 1));
}

int32_t ApplyCheckAnswers(Tables& tables, ConnectionId peer, int32_t fileId, uint32_t batch,
                          std::span<const int64_t> found) {
  Table<CompareJob>& jobs = tables.CompareJobs;
  jobs.Reset();
  while (CompareJob* job = jobs.Next()) {
    if (job->state == kRequested || job->fileId != fileId || job->peer != peer) continue;
    if (StrategyOf(*job).ApplyAnswers(*job, batch, found, tables) == 1) return 1;
  }
  return 0;
}

void StopResponderJob(CompareJob& job, EngineHost& host) {
  job.position = job.localFile.size;
  host.UpdateJobList(kRepaintJobList);
}

int32_t NewFileId(Tables& tables) {
  int32_t id = tables.nextFileId > 0 ? tables.nextFileId : 1;
  tables.nextFileId = id == INT32_MAX ? 1 : id + 1;
  return id;
}

}  // namespace kelpie
