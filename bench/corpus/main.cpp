// kelpie-corpus: writes (local, peer) file pairs shaped like real data for
// the benchmarks, the same bytes for the same seed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pairs.h"

namespace {

using namespace kelpie::bench;

constexpr char kUsage[] =
    "Usage: kelpie-corpus --list\n"
    "       kelpie-corpus [--seed N] [--tree DIR] PAIR SIZE LOCAL PEER\n"
    "\n"
    "Writes LOCAL (about SIZE bytes) and PEER, the peer's version of it. --list\n"
    "prints every PAIR with what it holds. --tree names the source tree the tar\n"
    "pair archives (default /usr/include). Exit status 0 on success, 1 when the\n"
    "files cannot be written, 2 for bad arguments.\n";

void PrintList() {
  for (const PairKind& kind : PairKinds())
    std::printf("%-13s %s\n", kind.name.c_str(), kind.description.c_str());
}

bool Parse(int argc, char** argv, PairRequest& request, std::string& pair) {
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--seed" && i + 1 < argc) {
      request.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--tree" && i + 1 < argc) {
      request.tree = argv[++i];
    } else {
      rest.push_back(arg);
    }
  }
  if (rest.size() != 4) return false;
  pair = rest[0];
  request.size = std::atoll(rest[1].c_str());
  request.localPath = rest[2];
  request.peerPath = rest[3];
  return request.size > 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--list") {
    PrintList();
    return 0;
  }
  PairRequest request;
  request.tree = "/usr/include";
  std::string pair;
  const PairKind* kind = nullptr;
  if (!Parse(argc, argv, request, pair) || !(kind = FindPair(pair))) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!kind->write(request)) {
    std::fprintf(stderr, "kelpie-corpus: cannot write the %s pair\n", pair.c_str());
    return 1;
  }
  return 0;
}
