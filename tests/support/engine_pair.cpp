#include "support/engine_pair.h"

#include <algorithm>
#include <filesystem>

#include "compare/engine.h"
#include "compare/fingerprint.h"
#include "compare/sync.h"
#include "protocol/messages.h"
#include "protocol/messages_v2.h"

namespace kelpie::test {

QueueingHost::QueueingHost(const Tables& tables, ConnectionId serverConnection)
    : tables_(tables), serverConnection_(serverConnection) {}

ConnectionId QueueingHost::Destination(const CompareJob& job) const {
  return job.peer != 0 ? job.peer : serverConnection_;
}

void QueueingHost::Send(ConnectionId to, std::vector<uint8_t> payload) {
  outbox.push_back(Envelope{to, std::move(payload)});
}

void QueueingHost::SendCompareStart(const CompareJob& job) {
  Send(Destination(job), BuildCompareStart(job.remoteFile ? job.remoteFile->path : ""));
}

void QueueingHost::SendCheck(const CompareJob& job, int32_t start, int32_t len, int32_t startLong,
                             std::string_view md5) {
  ++checksSent;
  Send(Destination(job), BuildBlockCheck(job.fileId, start, len, startLong, md5));
}

void QueueingHost::SendGet(const CompareJob& job, int32_t start, int32_t len) {
  ++getsSent;
  bytesAsked += len;
  Send(Destination(job), BuildBlockGet(job.fileId, start, len));
}

void QueueingHost::SendStop(const CompareJob& job) {
  Send(Destination(job), BuildCompareStop(job.fileId));
}

void QueueingHost::SendCompareStart2(const CompareJob& job) {
  Send(Destination(job),
       BuildV2Start(static_cast<uint32_t>(job.fileId), job.remoteFile ? job.remoteFile->path : ""));
}

void QueueingHost::SendRangeChecks(const CompareJob& job, uint32_t batch,
                                   std::span<const RangeCheck> checks) {
  checksSent += static_cast<int>(checks.size());
  Send(Destination(job), BuildV2Check(static_cast<uint32_t>(job.fileId), batch, checks));
}

void QueueingHost::SendRangeGet(const CompareJob& job, uint32_t request, int64_t offset,
                                int64_t len) {
  ++getsSent;
  bytesAsked += len;
  Send(Destination(job), BuildV2Get({static_cast<uint32_t>(job.fileId), request, offset, len}));
}

void QueueingHost::AddLog(std::string_view line) {
  log.emplace_back(line);
}

void QueueingHost::UpdateJobList(int32_t flags) {
  if (flags == kRebuildJobList) ++rebuilds;
  if (flags == kRepaintJobList) ++repaints;
  for (const CompareJob& job : tables_.CompareJobs) {
    for (const uint8_t* block = PeekFirstRecord(job.blocks.get()); block != nullptr;
         block = PeekNextRecord(block)) {
      recordsDrawn += PeekRecordLong(job.blocks.get(), block, kBlockState) >= 0 ? 1 : 0;
    }
  }
}

std::string QueueingHost::AskSavePath(std::string_view proposal) {
  proposals.emplace_back(proposal);
  return savePath;
}

int QueueingHost::Count(std::string_view line) const {
  return static_cast<int>(std::count(log.begin(), log.end(), line));
}

EngineSide::EngineSide(bool server, ConnectionId serverConnection_)
    : host(tables, serverConnection_), isServer(server), serverConnection(serverConnection_) {
  // Different starting points, as two programs would have.
  tables.nextFileId = server ? 1000 : 5000;
}

FileEntry& EngineSide::OfferFile(const std::string& path) {
  FileEntry& entry = *tables.LocalFiles.Append();
  entry.path = path;
  entry.size = static_cast<int32_t>(std::filesystem::file_size(path));
  entry.md5 = FileFingerprint(path);
  entry.fileId = NewFileId(tables);
  return entry;
}

bool EngineSide::Matches(const CompareJob& job, ConnectionId from, int32_t fileId) const {
  if (job.fileId != fileId) return false;
  return !isServer || (job.peer != 0 && job.peer == from);
}

void EngineSide::Handle(ConnectionId from, std::span<const uint8_t> payload) {
  switch (MessageCommand(payload)) {
    case CmdOK:
      HandleOk(from, payload);
      break;
    case CmdCompare_Start:
      HandleStart(from, payload);
      break;
    case CmdCompare_Block:
      HandleBlock(from, payload);
      break;
    case CmdCompare_BlockAnswer:
      HandleAnswer(from, payload);
      break;
    case CmdCompare_Stop:
      HandleStop(from, payload);
      break;
    default:
      break;
  }
}

void EngineSide::HandleOk(ConnectionId from, std::span<const uint8_t> payload) {
  std::optional<OkMessage> ok = ReadOk(payload);
  if (!ok || ok->acknowledged != CmdCompare_Start) return;
  WalkTable(tables.CompareJobs, [&](CompareJob& job) {
    if (job.state != kRequested || !job.remoteFile || job.remoteFile->path != ok->path) return;
    if (isServer && (job.peer == 0 || job.peer != from)) return;
    job.state = kComparing;
    job.fileId = ok->value;
    host.UpdateJobList(kRebuildJobList);
  });
}

void EngineSide::HandleStart(ConnectionId from, std::span<const uint8_t> payload) {
  std::optional<CompareStartMessage> start = ReadCompareStart(payload);
  if (!start) return;
  Acceptance accepted = AcceptComparison(tables, start->path, isServer ? from : 0);
  if (accepted.job == nullptr) {
    host.Send(AnswerTo(from), BuildError(CmdCompare_Start, accepted.error));
    return;
  }
  host.Send(AnswerTo(from), BuildOkCompareStart(accepted.job->fileId, start->path));
  host.UpdateJobList(kRebuildJobList);
}

void EngineSide::HandleBlock(ConnectionId from, std::span<const uint8_t> payload) {
  if (MessageSubCode(payload) == SubCheck) {
    std::optional<BlockCheckMessage> check = ReadBlockCheck(payload);
    if (!check) return;
    WalkTable(tables.CompareJobs, [&](CompareJob& job) {
      if (!Matches(job, from, check->fileId)) return;
      job.position = check->start;
      host.UpdateJobList(kRepaintJobList);
      int32_t found = CheckRange(job, check->start, check->len, check->startLong, check->md5);
      host.Send(AnswerTo(from), BuildAnswerCheck(job.fileId, found));
    });
  } else if (MessageSubCode(payload) == SubGet) {
    std::optional<BlockGetMessage> get = ReadBlockGet(payload);
    if (!get) return;
    WalkTable(tables.CompareJobs, [&](CompareJob& job) {
      if (!Matches(job, from, get->fileId)) return;
      host.Send(AnswerTo(from), BuildAnswerGet(get->fileId, get->start, get->len,
                                               ServeRange(job, get->start, get->len)));
    });
  }
}

void EngineSide::HandleAnswer(ConnectionId from, std::span<const uint8_t> payload) {
  if (MessageSubCode(payload) == SubCheck) {
    std::optional<AnswerCheckMessage> answer = ReadAnswerCheck(payload);
    if (!answer) return;
    if (ApplyCheckAnswer(tables, isServer ? from : 0, answer->fileId, answer->position) == 1) {
      host.UpdateJobList(kRepaintJobList);
    }
  } else if (MessageSubCode(payload) == SubGet) {
    std::optional<AnswerGetMessage> answer = ReadAnswerGet(payload);
    if (!answer) return;
    WalkTable(tables.CompareJobs, [&](CompareJob& job) {
      if (Matches(job, from, answer->fileId) && job.state == kAwaitingData) {
        StoreRangeAnswer(job, host, answer->data);
      }
    });
  }
}

void EngineSide::HandleStop(ConnectionId from, std::span<const uint8_t> payload) {
  std::optional<CompareStopMessage> stop = ReadCompareStop(payload);
  if (!stop) return;
  WalkTable(tables.CompareJobs, [&](CompareJob& job) {
    const bool match = isServer ? Matches(job, from, stop->fileId)
                                : job.state == kRequested && job.fileId == stop->fileId;
    if (match) StopResponderJob(job, host);
  });
}

EnginePair::EnginePair() {
  server.tables.Clients.Append()->connection = kClientId;
}

void EnginePair::Pass() {
  auto deliver = [this](EngineSide& from, EngineSide& to, ConnectionId sender) {
    std::deque<Envelope> flight;
    flight.swap(from.host.outbox);
    for (Envelope& envelope : flight) {
      if (inFlight && !inFlight(envelope)) continue;
      to.Handle(sender, envelope.payload);
    }
  };
  deliver(client, server, kClientId);
  deliver(server, client, 0);
  RunComparisons(server.tables, server.host);
  RunComparisons(client.tables, client.host);
}

bool EnginePair::RunUntilQuiet(int maxPasses) {
  auto busy = [](const EngineSide& side) {
    if (!side.host.outbox.empty()) return true;
    return std::any_of(side.tables.CompareJobs.begin(), side.tables.CompareJobs.end(),
                       [](const CompareJob& job) {
                         return job.state == kComparing || job.state == kSynchronising;
                       });
  };
  for (int pass = 0; pass < maxPasses; ++pass) {
    if (!busy(server) && !busy(client)) return true;
    Pass();
  }
  return false;
}

FileEntry& EnginePair::Announce(EngineSide& owner, const FileEntry& file) {
  EngineSide& other = Other(owner);
  FileEntry& entry = *other.tables.RemoteFiles.Append();
  entry.path = file.path;
  entry.size = file.size;
  entry.md5 = file.md5;
  entry.owner = other.isServer ? kClientId : 0;
  return entry;
}

}  // namespace kelpie::test
