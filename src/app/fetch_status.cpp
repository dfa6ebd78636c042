#include "app/fetch_status.h"

#include <array>

namespace kelpie {
namespace {

enum class Match { kWhole, kPrefix, kContains };

struct LineCause {
  Match match;
  std::string_view text;
  FetchStatus status;
  std::string_view reason;  // "" gives the line itself
};

constexpr std::array<LineCause, 10> kCauses{{
    {Match::kPrefix, "Server: refused: ", kFetchCannotConnect, ""},
    {Match::kContains, "'ERROR' (Compare_Start)", kFetchRefused, "the peer refused the comparison"},
    {Match::kContains, " refused: ", kFetchRefused, "the peer refused the comparison"},
    {Match::kContains, " is too large for this peer", kFetchRefused,
     "the peer speaks only protocol version 1, which cannot describe files over 2 GiB"},
    {Match::kWhole, "Syncronison stopped: the peer sent no data!", kFetchRefused,
     "the peer sent no data for a request"},
    {Match::kWhole, "Syncronison stopped: the rebuilt file differs from the peer's!",
     kFetchVerifyFailed, "verification failed: the rebuilt file differs from the peer's"},
    {Match::kWhole, "Couldn't open file!", kFetchCannotWrite, "cannot create a file beside it"},
    {Match::kWhole, "Couldn't write file!", kFetchCannotWrite, "cannot write the rebuilt file"},
    {Match::kWhole, "Couldn't replace file!", kFetchCannotWrite, "cannot replace it"},
    {Match::kPrefix, "File changed while in use, job ended: ", kFetchCannotWrite,
     "changed while it was read"},
}};

bool Matches(const LineCause& cause, std::string_view line) {
  switch (cause.match) {
    case Match::kWhole:
      return line == cause.text;
    case Match::kPrefix:
      return line.starts_with(cause.text);
    case Match::kContains:
      return line.find(cause.text) != std::string_view::npos;
  }
  return false;
}

}  // namespace

std::optional<FetchFailure> FailureInLogLine(std::string_view line) {
  for (const LineCause& cause : kCauses) {
    if (!Matches(cause, line)) continue;
    if (cause.status == kFetchCannotConnect) {
      return FetchFailure{cause.status, "the secure handshake failed: " +
                                            std::string(line.substr(cause.text.size()))};
    }
    return FetchFailure{cause.status, std::string(cause.reason)};
  }
  return std::nullopt;
}

}  // namespace kelpie
