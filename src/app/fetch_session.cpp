#include "app/fetch_session.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "app/fetch_remote.h"
#include "app/headless_window.h"
#include "app/peer_session.h"
#include "app/program.h"
#include "app/secure_mode.h"
#include "compare/block_list.h"
#include "compare/engine.h"
#include "compare/record_list.h"
#include "protocol/client_handler.h"
#include "protocol/file_lists.h"
#include "protocol/file_name.h"

namespace kelpie {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kListedLine = "Server: 'OK' (FileList_Get) Files: ";
constexpr std::string_view kComparedLine = "Comparison finished!";
constexpr std::string_view kSavedLine = "Syncronison complete!";

// Bytes of the local file whose ranges are answered: every range ends
// Settled, found or not, once it is split no further.
int64_t SettledBytes(const CompareJob& job) {
  if (!job.blocks) return 0;
  int64_t bytes = 0;
  for (const uint8_t* block = PeekFirstRecord(job.blocks.get()); block != nullptr;
       block = PeekNextRecord(block)) {
    if (BlockValue(job, block, kBlockState) == kSettled) bytes += BlockValue(job, block, kBlockLen);
  }
  return bytes;
}

class Fetcher {
 public:
  Fetcher(const PeerOptions& options, const FetchProgressSink& progress)
      : options_(options), progress_(progress) {
    program_.host.SetLogSink([this](std::string_view line) { OnLog(line); });
  }
  ~Fetcher() { program_.Cleanup(); }
  Fetcher(const Fetcher&) = delete;
  Fetcher& operator=(const Fetcher&) = delete;

  FetchFailure Run();
  FetchResult Result(FetchFailure failure) const;

 private:
  enum class Wait { kDone, kFailed, kLost };

  void OnLog(std::string_view line);
  // Passes until done() holds, a failure is logged or the server is gone
  // with nothing more to hand over.
  Wait PassUntil(const std::function<bool()>& done);
  void Report();
  bool Select(int list, const std::string& name, const std::string& md5);
  FetchFailure Connect();
  FetchFailure ListRemote(FileEntry& remote);
  FetchFailure AddLocal();
  FetchFailure Compare(const FileEntry& remote);
  FetchFailure Synchronise();
  FetchFailure Lost(std::string_view when) const;
  CompareJob* Job() { return program_.state.tables.CompareJobs.At(0); }

  const PeerOptions& options_;
  const FetchProgressSink& progress_;
  HeadlessWindow window_;
  Program program_{window_, window_};
  Clock::time_point start_ = Clock::now();
  std::optional<FetchFailure> logged_;  // the first failure the log told of
  std::optional<int32_t> listed_;       // how many files the server lists
  bool compared_ = false;
  bool saved_ = false;
  bool lost_ = false;  // the log said the server connection is gone
  int64_t lines_ = 0;
};

void Fetcher::OnLog(std::string_view line) {
  ++lines_;
  if (line.starts_with(kListedLine)) listed_ = DecimalValue(line.substr(kListedLine.size()));
  if (line == kComparedLine) compared_ = true;
  if (line == kSavedLine) saved_ = true;
  if (line == kServerLostLine) lost_ = true;
  if (!logged_) logged_ = FailureInLogLine(line);
}

Fetcher::Wait Fetcher::PassUntil(const std::function<bool()>& done) {
  const Network& network = program_.state.network;
  while (!done()) {
    if (logged_) return Wait::kFailed;
    const int64_t linesBefore = lines_;
    program_.Pass();
    Report();
    // Every message handled logs a line, so a quiet pass after the peer
    // closed means none is left; a job copying from LOCAL still has work.
    const CompareJob* job = Job();
    const bool working = job != nullptr && job->state == kSynchronising;
    if (network.PeerClosed(program_.state.ServerConnection) && lines_ == linesBefore && !working &&
        !done() && !logged_) {
      return Wait::kLost;
    }
  }
  // The jobs of a lost connection end, which may be what done() waited for.
  return lost_ && !saved_ ? Wait::kLost : Wait::kDone;
}

void Fetcher::Report() {
  FetchProgress progress;
  if (const CompareJob* job = Job(); job != nullptr && job->remoteFile) {
    if (job->state == kSynchronising || job->state == kAwaitingData || compared_) {
      progress = {FetchPhase::kFetching, job->position, job->remoteFile->size};
    } else {
      progress = {FetchPhase::kComparing, SettledBytes(*job), job->localFile.size};
    }
  }
  progress_(progress);
}

bool Fetcher::Select(int list, const std::string& name, const std::string& md5) {
  for (int row = 0; row < window_.RowCount(list); ++row) {
    if (window_.RowText(list, row, 0) == name && window_.RowText(list, row, 1) == md5) {
      window_.SelectRow(list, row);
      program_.Pass();
      return true;
    }
  }
  return false;
}

FetchFailure Fetcher::Lost(std::string_view when) const {
  return {kFetchLost,
          "the connection to " + options_.connectHost + " was lost " + std::string(when)};
}

FetchFailure Fetcher::Connect() {
  program_.state.NetVersion = options_.netVersion;
  if (!options_.keyFile.empty()) {
    if (std::string error = UseKeyFile(program_, options_.keyFile); !error.empty()) {
      return {kFetchBadArguments, error};
    }
  }
  std::string error = ConnectTo(program_, window_, options_.connectHost, options_.connectPort);
  if (!error.empty()) return {kFetchCannotConnect, error};
  return {};
}

FetchFailure Fetcher::ListRemote(FileEntry& remote) {
  const Table<FileEntry>& files = program_.state.tables.RemoteFiles;
  const Wait wait = PassUntil([&] { return listed_ && files.Count() >= *listed_; });
  if (wait == Wait::kFailed) return *logged_;
  // A secure server drops a plain client, and a plain one a secure client,
  // before it says anything.
  if (wait == Wait::kLost) {
    return {kFetchCannotConnect, "cannot connect to " + options_.connectHost +
                                     ": the server closed the connection (does it need --key?)"};
  }
  RemoteChoice choice = ChooseRemoteFile(files, options_.fetchRemote);
  if (choice.file == nullptr) return {kFetchNoSuchFile, choice.error};
  remote = *choice.file;
  return {};
}

// The local side of the comparison, made without announcing it to the
// server: a fetch shares nothing. A LOCAL that does not exist yet is an
// empty file at its path, so everything is fetched and the work files go
// beside it.
FetchFailure Fetcher::AddLocal() {
  const std::string& path = options_.fetchTo;
  struct stat info {};
  int64_t size = 0;
  if (::stat(path.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) return {kFetchCannotWrite, path + ": not a regular file"};
    size = info.st_size;
  }
  Tables& tables = program_.state.tables;
  FileEntry& file = *tables.LocalFiles.Add();
  file.path = path;
  file.size = size;
  file.fileId = NewFileId(tables);
  RefreshFileLists(program_.state, program_.host, kRefreshClientView);
  return {};
}

FetchFailure Fetcher::Compare(const FileEntry& remote) {
  if (!Select(kServerFiles, FileNamePart(remote.path), remote.md5) ||
      !Select(kClientFiles, FileNamePart(options_.fetchTo), "")) {
    return {kFetchNoSuchFile, "the server's file is no longer listed"};
  }
  window_.Click(kCompareButton);
  program_.Pass();
  if (Job() == nullptr && !logged_) return {kFetchRefused, "the comparison could not start"};
  switch (PassUntil([&] { return compared_; })) {
    case Wait::kFailed:
      return *logged_;
    case Wait::kLost:
      return Lost("while comparing");
    case Wait::kDone:
      break;
  }
  return {};
}

FetchFailure Fetcher::Synchronise() {
  window_.SelectRow(kJobList, 0);
  program_.Pass();
  window_.QueueSaveFileAnswer(options_.fetchTo);
  window_.Click(kSyncButton);
  program_.Pass();
  const Wait wait = PassUntil([&] {
    const CompareJob* job = Job();
    return saved_ || job == nullptr || job->state == kIdle;
  });
  if (wait == Wait::kLost) {
    // Abort keeps what arrived in the partial file for the next run.
    if (const CompareJob* job = Job(); job != nullptr && job->state != kIdle) {
      window_.Click(kSyncButton);
      program_.Pass();
    }
    return Lost("while fetching");
  }
  if (saved_) return {};
  FetchFailure failure = logged_.value_or(FetchFailure{kFetchRefused, "synchronisation stopped"});
  if (failure.status == kFetchCannotWrite)
    failure.reason = options_.fetchTo + ": " + failure.reason;
  return failure;
}

FetchFailure Fetcher::Run() {
  FetchFailure failure = Connect();
  FileEntry remote;
  if (failure.status == kFetchDone) failure = ListRemote(remote);
  if (failure.status == kFetchDone) failure = AddLocal();
  if (failure.status == kFetchDone) failure = Compare(remote);
  if (failure.status == kFetchDone) failure = Synchronise();
  return failure;
}

FetchResult Fetcher::Result(FetchFailure failure) const {
  const Network& network = program_.state.network;
  FetchResult result;
  result.failure = std::move(failure);
  result.wireBytes = network.BytesSent() + network.BytesReceived();
  if (const CompareJob* job = program_.state.tables.CompareJobs.At(0); job && job->remoteFile) {
    result.reusedBytes =
        std::max<int64_t>(0, job->remoteFile->size - program_.host.requests().getBytes);
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  return result;
}

}  // namespace

FetchResult Fetch(const PeerOptions& options, const FetchProgressSink& progress) {
  Fetcher fetcher(options, progress);
  FetchFailure failure = fetcher.Run();
  return fetcher.Result(std::move(failure));
}

}  // namespace kelpie
