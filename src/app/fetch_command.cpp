#include "app/fetch_command.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/fetch_session.h"

namespace kelpie {

int RunFetchCommand(const PeerOptions& options) {
  // Scripts and logs get errors only; a person watching gets the progress.
  std::unique_ptr<ProgressLine> line;
  if (::isatty(STDERR_FILENO) == 1) line = std::make_unique<ProgressLine>(STDERR_FILENO);
  const FetchResult result = Fetch(options, [&](const FetchProgress& progress) {
    if (line) line->Show(progress);
  });
  line.reset();
  if (result.failure.status != kFetchDone) {
    std::fprintf(stderr, "kelpie-peer: %s\n", result.failure.reason.c_str());
    return result.failure.status;
  }
  std::printf("Fetched %s into %s: %lld bytes on the wire, %lld bytes reused, %.2f s\n",
              options.fetchRemote.c_str(), options.fetchTo.c_str(),
              static_cast<long long>(result.wireBytes), static_cast<long long>(result.reusedBytes),
              result.seconds);
  return kFetchDone;
}

}  // namespace kelpie
