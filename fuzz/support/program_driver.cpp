#include "support/program_driver.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "compare/version2_strategy.h"
#include "protocol/client_handler.h"
#include "protocol/server_handler.h"
#include "support/require.h"
#include "support/sample_files.h"
#include "support/table_checks.h"
#include "transport/frames.h"

namespace kelpie::fuzz {
namespace {

// Enough clients for files and jobs of several to mix, few enough that a
// script reaches each of them.
constexpr size_t kMostClients = 4;

}  // namespace

ProgramDriver::ProgramDriver(bool serverRole, uint8_t setup) : serverRole_(serverRole) {
  // Replaying one input with KELPIE_FUZZ_LOG set shows what the program did.
  if (std::getenv("KELPIE_FUZZ_LOG") != nullptr) {
    program_.host.SetLogSink([](std::string_view line) {
      std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    });
  }
  PeerState& state = program_.state;
  state.NetVersion = (setup & kSpeaksVersion2) != 0 ? 2 : 1;
  // Fixed numbers, so that a script can name the jobs it starts.
  state.tables.nextFileId = kFirstFileId;
  // A static of the strategy; every script sets it anew.
  Version2Strategy::lookAheadRoundTripMs = (setup & kAskAhead) != 0 ? 0 : 10;
  if (serverRole_) {
    state.ServerRunning = 1;
    Connect();
  } else {
    state.ServerConnection = kServerConnection;
  }
  // Any command applies the enabling rule, which opens "Add File to List".
  Use(kJobList);
  const SampleFiles& samples = Samples(serverRole_);
  ClearLeftovers(samples);
  for (const std::string* path : {&samples.mixed, &samples.empty, &samples.small}) {
    window_.Click(kAddFileButton);
    window_.QueueOpenFileAnswer(*path);
    program_.Pass();
  }
  Require(state.tables.LocalFiles.Count() == 3, "the samples are offered");
  Check();
}

ProgramDriver::~ProgramDriver() {
  program_.Cleanup();
}

void ProgramDriver::Run(InputReader& input) {
  // A bound on the operations keeps one input's run short.
  for (int operations = 0; operations < 256 && !input.empty(); ++operations) {
    Step(input);
    Check();
  }
  for (int pass = 0; pass < 4; ++pass)
    program_.Pass();
  Check();
  if (serverRole_) {
    while (!clients_.empty())
      Disconnect(0);
    // Every job and every listed file of a server belongs to some client.
    Require(program_.state.tables.CompareJobs.Empty(), "no job outlives its client");
    Require(program_.state.tables.RemoteFiles.Empty(), "no file outlives its client");
  } else {
    Disconnect(0);
    Require(program_.state.tables.RemoteFiles.Empty(), "the server's files go with it");
  }
  Check();
}

void ProgramDriver::Step(InputReader& input) {
  switch (input.U8() % kOperationCount) {
    case kDeliver: {
      const uint8_t sender = input.U8();
      Deliver(sender, input.Bytes(input.U16()));
      return;
    }
    case kPasses:
      for (int pass = 1 + input.U8() % 8; pass > 0; --pass)
        program_.Pass();
      return;
    case kCompare:
      Select(kServerFiles, input.U8());
      Select(kClientFiles, input.U8());
      Use(kCompareButton);
      return;
    case kJobButton: {
      Select(kJobList, input.U8());
      if (input.U8() % 2 == 1) window_.QueueSaveFileAnswer(Samples(serverRole_).saveAs);
      Use(kSyncButton);
      return;
    }
    case kOffer:
      return Offer(input.U8());
    case kRefresh:
      return Use(input.U8() % 2 == 0 ? kServerRefresh : kClientRefresh);
    case kConnect:
      return Connect();
    case kDisconnect:
      return Disconnect(input.U8());
  }
}

// A click and the pass that handles it, as a user's; a disabled control
// takes no click.
void ProgramDriver::Use(int control) {
  if (window_.Click(control)) program_.Pass();
}

void ProgramDriver::Select(int list, uint8_t row) {
  const int rows = window_.RowCount(list);
  window_.SelectRow(list, rows == 0 ? -1 : row % rows);
  program_.Pass();
}

// A frame never carries an empty or oversized payload, and only a connected
// peer's frames are read.
void ProgramDriver::Deliver(uint8_t sender, std::span<const uint8_t> payload) {
  if (payload.empty() || payload.size() > static_cast<size_t>(kMaxPayload)) return;
  PeerState& state = program_.state;
  if (serverRole_) {
    if (clients_.empty()) return;
    HandleClientMessage(state, program_.host, clients_[sender % clients_.size()], payload);
  } else if (state.ServerConnection != 0) {
    HandleServerMessage(state, program_.host, payload);
  }
}

void ProgramDriver::Offer(uint8_t which) {
  const SampleFiles& samples = Samples(serverRole_);
  const std::string* paths[] = {&samples.mixed, &samples.empty, &samples.small, &samples.missing};
  if (!window_.Click(kAddFileButton)) return;
  window_.QueueOpenFileAnswer(*paths[which % std::size(paths)]);
  program_.Pass();
}

void ProgramDriver::Connect() {
  if (!serverRole_ || clients_.size() >= kMostClients) return;
  AdmitClient(program_.state, program_.host, nextClient_);
  clients_.push_back(nextClient_++);
}

void ProgramDriver::Disconnect(uint8_t which) {
  if (!serverRole_) {
    // Pressed while disconnected, the button would connect for real.
    if (program_.state.ServerConnection != 0) Use(kConnectButton);
    return;
  }
  if (clients_.empty()) return;
  const auto gone = clients_.begin() + which % clients_.size();
  ForgetClient(program_.state, program_.host, *gone);
  clients_.erase(gone);
}

void ProgramDriver::Check() const {
  CheckTables(program_.state, serverRole_, clients_);
}

}  // namespace kelpie::fuzz
