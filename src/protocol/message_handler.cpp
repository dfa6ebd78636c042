#include "protocol/message_handler.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "compare/engine.h"
#include "compare/sync.h"
#include "protocol/file_lists.h"
#include "protocol/message_context.h"
#include "protocol/messages.h"

namespace kelpie {
namespace {

using Context = MessageContext;

void OnHello(Context& c) {
  auto hello = ReadHello(c.payload);
  if (!hello) return c.Malformed("Hello");
  c.Log("'Hello' NetVersion: $" + HexUpper(hello->netVersion, 1) + " - " + hello->greeting);
  // Only a client announces a version; the server's own Hello always says 1.
  bool both = c.sender.serverRole && hello->netVersion >= 2 && c.state.NetVersion >= 2;
  if (both) c.state.version2Connections.insert(c.sender.connection);
  c.Answer(BuildOk(CmdHello, both ? 2 : 1));
}

void OnFileListGet(Context& c) {
  if (!ReadFileListGet(c.payload)) return c.Malformed("FileList_Get");
  c.Log("'FileList_Get'");
  AnswerFileList(c.state, c.host, c.sender.connection);
}

void OnFileListAdd(Context& c) {
  auto add = ReadFileListAdd(c.payload);
  if (!add) return c.Malformed("FileList_Add");
  c.Log("'FileList_Add' " + add->path);
  RecordRemoteFile(c.state, c.host, *add, c.sender.peer);
}

void OnCompareStartAcknowledged(Context& c, const OkMessage& ok) {
  c.Log("'OK' (Compare_Start) FileID:" + std::to_string(ok.value) + " " + ok.path);
  WalkTable(c.state.tables.CompareJobs, [&](CompareJob& job) {
    if (job.peer != c.sender.peer || job.state != kRequested || !job.remoteFile) return;
    if (job.remoteFile->path != ok.path) return;
    StrategyOf(job).Accepted(job, ok.value, nullptr);
    c.host.UpdateJobList(kRebuildJobList);
  });
}

void OnOk(Context& c) {
  int8_t acknowledged = MessageSubCode(c.payload);
  if (c.payload.size() >= 2 && acknowledged != CmdHello && acknowledged != CmdFileList_Get &&
      acknowledged != CmdCompare_Start) {
    return c.Log("'OK' (Unknown)");
  }
  auto ok = ReadOk(c.payload);
  if (!ok) return c.Malformed("OK");
  if (ok->acknowledged == CmdHello) {
    // The server's answer to this client's Hello says which version it speaks.
    if (!c.sender.serverRole && ok->value >= 2 && c.state.NetVersion >= 2) {
      c.state.version2Connections.insert(c.sender.connection);
    }
    return c.Log("'OK' (Hello)");
  }
  if (ok->acknowledged == CmdCompare_Start) return OnCompareStartAcknowledged(c, *ok);
  c.Log("'OK' (FileList_Get) Files: " + std::to_string(ok->value));
  // No FileList_Add will follow to redraw the server's files.
  if (!c.sender.serverRole && ok->value == 0) c.host.ClearFileView(FileView::Server);
}

void OnError(Context& c) {
  auto error = ReadError(c.payload);
  if (!error) return c.Malformed("ERROR");
  std::string line =
      error->refused == CmdCompare_Start ? "'ERROR' (Compare_Start)" : "'ERROR' (Unknown)";
  if (error->code == 0) line += " couldn't open file!";
  c.Log(line);
}

void OnCompareStart(Context& c) {
  auto start = ReadCompareStart(c.payload);
  if (!start) return c.Malformed("Compare_Start");
  c.Log("'Compare_Start' " + start->path);
  Acceptance accepted = AcceptComparison(c.state.tables, start->path, c.sender.peer, INT32_MAX);
  if (accepted.job == nullptr) return c.Answer(BuildError(CmdCompare_Start, accepted.error));
  c.Answer(BuildOkCompareStart(accepted.job->fileId, start->path));
  c.host.UpdateJobList(kRebuildJobList);
}

void OnBlockCheck(Context& c) {
  auto check = ReadBlockCheck(c.payload);
  if (!check) return c.Malformed("Compare_Block");
  c.Log("'Compare_Block' (Check) FileID:" + std::to_string(check->fileId) + " start:" +
        std::to_string(check->start) + " len:" + std::to_string(check->len) + " StartLong:$" +
        HexUpper(static_cast<uint32_t>(check->startLong), 8) + " MD5:" + check->md5);
  ForEachResponderJob(c, check->fileId, [&](CompareJob& job) {
    job.position = check->start;
    c.host.UpdateJobList(kRepaintJobList);
    int32_t found = CheckRange(job, check->start, check->len, check->startLong, check->md5);
    c.Answer(BuildAnswerCheck(job.fileId, found));
  });
}

void OnBlockGet(Context& c) {
  auto get = ReadBlockGet(c.payload);
  if (!get) return c.Malformed("Compare_Block");
  c.Log("'Compare_Block' (Get) FileID:" + std::to_string(get->fileId) +
        " start:" + std::to_string(get->start) + " len:" + std::to_string(get->len));
  // The answer must fit one frame whatever the peer asked for.
  int32_t len = std::min(get->len, kMaxGetLength);
  ForEachResponderJob(c, get->fileId, [&](CompareJob& job) {
    c.Answer(BuildAnswerGet(get->fileId, get->start, get->len, ServeRange(job, get->start, len)));
    FileChangedUnder(job, c.host);
  });
}

void OnBlock(Context& c) {
  int8_t sub = MessageSubCode(c.payload);
  if (c.payload.size() < 2) return c.Malformed("Compare_Block");
  if (sub == SubCheck) return OnBlockCheck(c);
  if (sub == SubGet) return OnBlockGet(c);
}

void OnAnswerCheck(Context& c) {
  auto answer = ReadAnswerCheck(c.payload);
  if (!answer) return c.Malformed("Compare_BlockAnswer");
  c.Log("'Compare_BlockAnswer' (Check) FileID:" + std::to_string(answer->fileId) +
        " Position:" + std::to_string(answer->position));
  if (ApplyCheckAnswer(c.state.tables, c.sender.peer, answer->fileId, answer->position) == 1) {
    c.host.UpdateJobList(kRepaintJobList);
  }
}

void OnAnswerGet(Context& c) {
  auto answer = ReadAnswerGet(c.payload);
  if (!answer) return c.Malformed("Compare_BlockAnswer");
  c.Log("'Compare_BlockAnswer' (Get) FileID:" + std::to_string(answer->fileId) +
        " Position:" + std::to_string(answer->start) + " Len:" + std::to_string(answer->len));
  ForEachInitiatorJob(c, answer->fileId, [&](CompareJob& job) {
    if (job.state != kAwaitingData) return;
    // Every Get asks from the job's position, and the answer echoes it: an
    // answer for another position is a late one from an aborted run.
    if (answer->start != job.position) return;
    StoreRangeAnswer(job, c.host, answer->data);
  });
}

void OnAnswer(Context& c) {
  int8_t sub = MessageSubCode(c.payload);
  if (c.payload.size() < 2) return c.Malformed("Compare_BlockAnswer");
  if (sub == SubCheck) return OnAnswerCheck(c);
  if (sub == SubGet) return OnAnswerGet(c);
}

void OnCompareStop(Context& c) {
  auto stop = ReadCompareStop(c.payload);
  if (!stop) return c.Malformed("Compare_Stop");
  c.Log("'Compare_Stop' FileID:" + std::to_string(stop->fileId));
  ForEachResponderJob(c, stop->fileId, [&](CompareJob& job) {
    // A client's responder jobs are only stopped while still in their first state.
    if (c.sender.serverRole || job.state == kRequested) StopResponderJob(job, c.host);
  });
}

}  // namespace

std::string HexUpper(uint32_t value, int minDigits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", minDigits, value);
  return text;
}

void HandleMessage(PeerState& state, ProtocolHost& host, const Sender& sender,
                   std::span<const uint8_t> payload) {
  Context c{state, host, sender, payload};
  switch (MessageCommand(payload)) {
    case CmdHello:
      return OnHello(c);
    case CmdFileList_Add:
      return OnFileListAdd(c);
    case CmdFileList_Get:
      return OnFileListGet(c);
    case CmdCompare_Start:
      return OnCompareStart(c);
    case CmdCompare_Block:
      return OnBlock(c);
    case CmdCompare_BlockAnswer:
      return OnAnswer(c);
    case CmdCompare_Stop:
      return OnCompareStop(c);
    case CmdOK:
      return OnOk(c);
    case CmdERROR:
      return OnError(c);
    default:
      // Commands of the second version mean nothing on a first-version connection.
      if (state.ConnectionVersion(sender.connection) >= 2 && HandleVersion2Message(c)) return;
      c.Log("'Unknown command ($" + HexUpper(payload.empty() ? 0 : payload[0], 2) + ")'");
  }
}

}  // namespace kelpie
