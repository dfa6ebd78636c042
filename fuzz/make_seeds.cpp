// Writes the seed corpora of the fuzz targets into a folder (fuzz/corpus):
// messages made by the real builders, frame streams, and whole-program
// scripts that play sessions of both versions through to a saved file, so
// that fuzzing starts from deep states rather than from the greeting.
//
//   make_fuzz_seeds fuzz/corpus

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compare/block_list.h"
#include "compare/chunk_index.h"
#include "compare/content_chunks.h"
#include "compare/fingerprint.h"
#include "protocol/messages.h"
#include "protocol/messages_v2.h"
#include "support/program_driver.h"
#include "support/sample_files.h"
#include "transport/little_endian.h"

namespace kelpie::fuzz {
namespace {

using Bytes = std::vector<uint8_t>;

std::string folder;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  ::mkdir((folder + "/" + target).c_str(), 0755);
  std::ofstream out(folder + "/" + target + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes Framed(const Bytes& payload, uint8_t endByte = 0) {
  Bytes frame{static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(endByte);
  return frame;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts)
    joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

void FrameSeeds() {
  const Bytes stream = Join({Framed(BuildHello(kServerGreeting)), Framed(BuildOk(CmdHello, 2)),
                             Framed(BuildFileListGet()), Framed(BuildCompareStop(42))});
  // Mode 0 (any bytes), piece sizes, the stream.
  Write("frames_fuzz", "whole", Join({{0, 0}, stream}));
  Write("frames_fuzz", "bytewise", Join({{0, 1, 0}, stream}));
  Write("frames_fuzz", "pieces-2-3-7", Join({{0, 3, 1, 2, 6}, stream}));
  Write("frames_fuzz", "resync",
        Join({{0, 1, 4},
              {0, 0, 0, 0, 0, 0x41},
              Framed({7, 0, 1, 0, 0, 0}),
              {0xFF, 0xFF, 1, 2, 0},
              Framed({2, 0, 1}, 1),
              Framed({5, 0, 0, 0, 0, 0})}));
  // Mode 1: payloads given by a length code and a pattern, framed by the
  // target: small ones, the two sizes either side of the first growth of
  // the block, and the largest a frame carries.
  Write("frames_fuzz", "framed-small",
        {1, 2, 0, 5, 5, 'H', 'e', 'l', 'l', 'o', '!', 1, 'H', 'i', 0, 7});
  Bytes edge = {1, 1, 255, 240, 0xFD, 0x07};  // 1 + 2045
  edge.resize(edge.size() + 2046, 0x33);
  edge.insert(edge.end(), {240, 0xFE, 0x07, 0x44});  // 1 + 2046
  Write("frames_fuzz", "framed-edge", edge);
  Write("frames_fuzz", "framed-largest", {1, 2, 200, 130, 240, 0xFE, 0x7F, 1, 2, 3});
}

void MessageSeedsV1() {
  const std::string md5(32, 'A');
  const std::vector<std::pair<std::string, Bytes>> seeds = {
      {"hello", BuildHello(kClientGreeting, 2)},
      {"ok-hello", BuildOk(CmdHello, 2)},
      {"ok-filelist", BuildOk(CmdFileList_Get, 3)},
      {"ok-start", BuildOkCompareStart(77, "/data/file.bin")},
      {"error", BuildError(CmdCompare_Start, 0)},
      {"filelist-add", BuildFileListAdd(md5, 12288, "/data/file.bin")},
      {"filelist-get", BuildFileListGet()},
      {"start", BuildCompareStart("/data/file.bin")},
      {"stop", BuildCompareStop(77)},
      {"check", BuildBlockCheck(77, 1024, 2048, 0x64636261, md5)},
      {"get", BuildBlockGet(77, 0, 32753)},
      {"answer-check", BuildAnswerCheck(77, -1)},
      {"answer-get", BuildAnswerGet(77, 0, 4, Bytes{1, 2, 3, 4})},
  };
  for (const auto& [name, payload] : seeds)
    Write("messages_v1_fuzz", name, payload);
}

// A batch that counts far more entries than follow it.
Bytes Overcounted(Bytes batch) {
  WriteU16(batch, 10, 0xFFFF);
  return batch;
}

void MessageSeedsV2() {
  const std::vector<RangeCheck> checks = {{0, 4096, 1}, {8192, 100, 2}, {50, 7, 3}};
  const std::vector<int64_t> codes = {0, 1, FoundCode(300, 50)};
  const std::vector<std::pair<std::string, Bytes>> seeds = {
      {"file-add", BuildV2FileAdd(std::string(32, 'b'), int64_t{5} << 31, "/data/big.bin")},
      {"start", BuildV2Start(9, "/data/file.bin")},
      {"accept", BuildV2Accept({kAccepted, 9, 12288, {}})},
      {"refuse", BuildV2Accept({kAcceptNotListed, 9, 0, {}})},
      {"check", BuildV2Check(9, 1, checks)},
      {"check-answer", BuildV2CheckAnswer(9, 1, codes)},
      {"check-overcounted", Overcounted(BuildV2Check(9, 1, checks))},
      {"check-answer-overcounted", Overcounted(BuildV2CheckAnswer(9, 1, codes))},
      {"get", BuildV2Get({9, 1, 4096, 1 << 20})},
      {"data", BuildV2Data(9, 1, 4096, 3, Bytes{7, 8, 9})},
      {"data-zeros", BuildV2Data(9, 1, 0, 8192, {})},
      {"data-end", BuildV2Data(9, 1, 12288, 0, {})},
  };
  for (const auto& [name, payload] : seeds)
    Write("messages_v2_fuzz", name, payload);
}

// A whole-program script in the drivers' encoding.
class Script {
 public:
  explicit Script(uint8_t setup) : bytes_{setup} {}

  Script& Deliver(const Bytes& payload, uint8_t sender = 0) {
    bytes_.insert(bytes_.end(), {kDeliver, sender, static_cast<uint8_t>(payload.size()),
                                 static_cast<uint8_t>(payload.size() >> 8)});
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    return *this;
  }
  Script& Passes(uint8_t count) { return Add({kPasses, static_cast<uint8_t>(count - 1)}); }
  Script& Compare(uint8_t serverRow, uint8_t clientRow) {
    return Add({kCompare, serverRow, clientRow});
  }
  Script& JobButton(uint8_t row, bool save) {
    return Add({kJobButton, row, save ? uint8_t{1} : uint8_t{0}});
  }
  Script& Offer(uint8_t which) { return Add({kOffer, which}); }
  Script& Refresh(uint8_t which) { return Add({kRefresh, which}); }
  Script& Connect() { return Add({kConnect}); }
  Script& Disconnect(uint8_t which) { return Add({kDisconnect, which}); }
  const Bytes& bytes() const { return bytes_; }

 private:
  Script& Add(std::initializer_list<uint8_t> values) {
    bytes_.insert(bytes_.end(), values);
    return *this;
  }
  Bytes bytes_;
};

// What a peer says of the mixed sample to compare with it: its fingerprints
// and the checks of its first and second half.
struct Peer {
  explicit Peer(bool server) : path(Samples(server).mixed) {}

  std::string path;  // where the target's program finds the sample
  Bytes data = ReadFile(path);
  std::string md5 = RangeFingerprint(data);
  int32_t size = static_cast<int32_t>(data.size());

  Bytes Check(int32_t fileId, int32_t start, int32_t len) const {
    std::span<const uint8_t> range = DataRange(data, start, len);
    return BuildBlockCheck(fileId, start, len, StartLong(data, start), RangeFingerprint(range));
  }
  // Every top-level range of the file, as a version-2 initiator checks them.
  Bytes Checks(uint32_t job) const {
    std::vector<RangeCheck> checks;
    const ChunkCuts cuts = CutChunks(data);
    for (const ChunkRange& r : RangesOfLevel(cuts, kTopChunkLevel, 0, size))
      checks.push_back({r.start, r.len, RangeHash(DataRange(data, r.start, r.len))});
    return BuildV2Check(job, 1, checks);
  }
};

// This side answers the peer's comparison of the mixed sample: it accepts,
// answers checks and serves its bytes, until the peer stops.
Script Responder(uint8_t setup, bool server, bool version2) {
  const Peer peer(server);
  const int32_t fileId = kFirstFileId;  // the mixed sample, offered first
  Script script(setup);
  // Version 2 holds once the server has answered the client's Hello with 2.
  script.Deliver(server ? BuildHello(kClientGreeting, version2 ? 2 : 1)
                        : BuildOk(CmdHello, version2 ? 2 : 1));
  script.Deliver(BuildFileListGet());
  if (version2) {
    const uint32_t job = 9;
    script.Deliver(BuildV2Start(job, peer.path))
        .Deliver(peer.Checks(job))
        .Deliver(BuildV2Get({job, 1, 0, 6000}))
        .Deliver(BuildV2Get({job, 2, 6000, 1 << 20}))
        .Deliver(BuildCompareStop(static_cast<int32_t>(job)));
  } else {
    script.Deliver(BuildCompareStart(peer.path))
        .Deliver(peer.Check(fileId, 0, peer.size))
        .Deliver(peer.Check(fileId, 6144, 6144))
        .Deliver(BuildBlockGet(fileId, 0, 32753))
        .Deliver(BuildCompareStop(fileId));
  }
  return script.Passes(2);
}

// This side compares its samples with the peer's mixed file, then
// synchronises and saves. A first-version peer answers the one check with
// the range's own offset; a second-version one accepts, says every top
// range is found where it is, then serves nothing more.
Script Initiator(uint8_t setup, bool server, bool version2) {
  const Peer peer(server);
  const std::string remotePath = "/peer/mixed.bin";
  Script script(setup);
  if (server) {
    script.Deliver(BuildHello(kClientGreeting, version2 ? 2 : 1));
  } else {
    script.Deliver(BuildHello(kServerGreeting)).Deliver(BuildOk(CmdHello, version2 ? 2 : 1));
    script.Deliver(BuildOk(CmdFileList_Get, 1));
  }
  script.Deliver(BuildFileListAdd(peer.md5, peer.size, remotePath)).Passes(1);
  // The views list the local samples and the peer's file; every local row
  // is compared with it, so whichever row holds the mixed sample runs too.
  for (uint8_t row = 0; row < 3; ++row)
    script.Compare(server ? row : 0, server ? 0 : row);
  script.Passes(2);
  // A first-version acceptance names the file, so one takes all three jobs;
  // a second-version job has its own number, given in the order of starts.
  const int32_t first = kFirstFileId + 3;
  if (!version2) script.Deliver(BuildOkCompareStart(first, remotePath));
  for (int32_t job = first; job < first + 3; ++job) {
    if (version2) {
      const auto number = static_cast<uint32_t>(job);
      script.Deliver(BuildV2Accept({kAccepted, number, peer.size, Sha256(peer.data)}))
          .Deliver(BuildV2CheckAnswer(number, 1, std::vector<int64_t>{1}));
    } else {
      script.Passes(1).Deliver(BuildAnswerCheck(first, 0));
    }
  }
  script.Passes(3);
  for (uint8_t row = 0; row < 3; ++row)
    script.JobButton(row, true).Passes(4);
  return script;
}

void ProgramSeeds() {
  Write("server_fuzz", "respond-v1", Responder(0, true, false).bytes());
  Write("server_fuzz", "respond-v2", Responder(kSpeaksVersion2, true, true).bytes());
  Write("server_fuzz", "initiate-v1", Initiator(0, true, false).bytes());
  Write("server_fuzz", "initiate-v2", Initiator(kSpeaksVersion2 | kAskAhead, true, true).bytes());
  Write("server_fuzz", "clients",
        Script(kSpeaksVersion2)
            .Connect()
            .Deliver(BuildFileListAdd(std::string(32, 'c'), 10, "/a"), 1)
            .Deliver(BuildV2FileAdd(std::string(32, 'd'), int64_t{3} << 31, "/b"), 0)
            .Refresh(0)
            .Refresh(1)
            .Offer(3)
            .Disconnect(1)
            .Passes(2)
            .bytes());
  Write("client_fuzz", "respond-v1", Responder(0, false, false).bytes());
  Write("client_fuzz", "respond-v2", Responder(kSpeaksVersion2, false, true).bytes());
  Write("client_fuzz", "initiate-v1", Initiator(0, false, false).bytes());
  Write("client_fuzz", "initiate-v2", Initiator(kSpeaksVersion2 | kAskAhead, false, true).bytes());
  Write("client_fuzz", "disconnect",
        Script(0)
            .Deliver(BuildOk(CmdFileList_Get, 0))
            .Deliver(BuildError(CmdCompare_Start, 1))
            .Disconnect(0)
            .Deliver(BuildHello(kServerGreeting))
            .bytes());
}

}  // namespace
}  // namespace kelpie::fuzz

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds <corpus folder>\n");
    return 2;
  }
  kelpie::fuzz::folder = argv[1];
  ::mkdir(argv[1], 0755);
  kelpie::fuzz::FrameSeeds();
  kelpie::fuzz::MessageSeedsV1();
  kelpie::fuzz::MessageSeedsV2();
  kelpie::fuzz::ProgramSeeds();
  return 0;
}
