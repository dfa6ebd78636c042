#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelpie {

// Exit statuses of kelpie-peer --fetch; scripts rely on them, so they never
// change.
enum FetchStatus : int {
  kFetchDone = 0,
  kFetchBadArguments = 2,
  kFetchCannotConnect = 3,
  kFetchNoSuchFile = 4,
  kFetchRefused = 5,
  kFetchLost = 6,
  kFetchVerifyFailed = 7,
  kFetchCannotWrite = 8,
};

struct FetchFailure {
  FetchStatus status = kFetchDone;
  std::string reason;  // one line, without the program's name
};

// What a log line of the fetching program says went wrong, if anything: the
// engine and the protocol tell outcomes only through the log, as the window
// shows them.
std::optional<FetchFailure> FailureInLogLine(std::string_view line);

}  // namespace kelpie
