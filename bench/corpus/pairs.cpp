#include "pairs.h"

#include "../kelpie-bench/scenarios.h"
#include "writers.h"

namespace kelpie::bench {
namespace {

// A kelpie-bench scenario under its own name; its bytes come from fixed
// seeds.
std::function<bool(const PairRequest&)> BenchScenario(const std::string& name) {
  return [name](const PairRequest& request) {
    return WriteScenario(name, request.size, request.localPath, request.peerPath);
  };
}

}  // namespace

const std::vector<PairKind>& PairKinds() {
  static const std::vector<PairKind> kinds = {
      {"log", "timestamped log lines; the peer has ~20 lines inserted or deleted", WriteLogPair},
      {"prose", "English-like prose; the peer has 40 scattered word changes", WriteProsePair},
      {"sparse", "disk image: zeros with 4-256 KiB data islands; 8 islands rewritten in the peer",
       WriteSparsePair},
      {"sparse-edits",
       "large sparse file: islands over ~3%; 256 edits of 4 KiB in the peer, half in islands",
       WriteSparseEditsPair},
      {"swap", "random bytes; the peer holds the second half first", WriteSwapPair},
      {"moved", "random bytes; the peer has 6 blocks of 64 KiB-1 MiB moved elsewhere",
       WriteMovedPair},
      {"records", "128-byte sensor records; the peer has fields changed, records added, removed",
       WriteRecordsPair},
      {"tar", "tar of a source tree repeated to size; the peer has 5 files edited, 1 added",
       WriteTarPair},
      {"zeros", "zeros with 16 random 4 KiB blocks; the peer's blocks lie elsewhere",
       WriteZerosPair},
      {"periodic", "a 1000-byte pattern repeated; the peer has 100 bytes inserted, 20 edits",
       WritePeriodicPair},
      {"fill", "a 4096-byte pattern repeated; the peer has 100 bytes inserted, 20 edits",
       WriteFillPair},
      {"identical", "random bytes, the same on both sides", BenchScenario("identical")},
      {"edit", "random bytes; one byte changed in the middle", BenchScenario("edit")},
      {"insert", "random bytes; 1000 bytes inserted in the middle", BenchScenario("insert")},
      {"delete", "random bytes; 1000 bytes deleted in the middle", BenchScenario("delete")},
      {"append", "random bytes; a sixteenth more at the end", BenchScenario("append")},
      {"disjoint", "random bytes; nothing in common", BenchScenario("disjoint")},
  };
  return kinds;
}

const PairKind* FindPair(const std::string& name) {
  for (const PairKind& kind : PairKinds()) {
    if (kind.name == name) return &kind;
  }
  return nullptr;
}

}  // namespace kelpie::bench
