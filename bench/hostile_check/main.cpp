// kelpie-hostile: what one hostile version-1 check does to a kelpie-peer.
//
// The peer offers a sparse file (zeros with random islands). One client opens
// a comparison of it and sends a Compare_Block (Check) of 524288 bytes with
// StartLong 0 and an MD5 that matches nothing: a byte-by-byte search would
// hash every window that reaches an island. The tool times the answer and,
// meanwhile, a second client's Hello; then it sends a flood of such checks,
// times a third client's Hello during the flood, sends SIGTERM in the middle
// of it and times the peer's exit. The peer's own longest main-loop pass
// (kelpie-peer --stats) is read from its log. One JSON line on stdout.
//
// Run: build/bench/kelpie-hostile --size 67108864
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "../corpus/rng.h"
#include "../corpus/sparse_image.h"
#include "../kelpie-bench/pass_stats.h"
#include "../kelpie-bench/peer_process.h"
#include "protocol/messages.h"
#include "raw_link.h"

namespace kelpie::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kCheckLen = 524288;
constexpr auto kWait = std::chrono::seconds(120);

struct Options {
  int64_t size = int64_t{64} << 20;
  int flood = 100;
};

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string Ms(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// An MD5 text no 512 KiB window has, a different one per number.
std::string NowhereMd5(int n) {
  char text[33];
  std::snprintf(text, sizeof text, "%032x", 0x5eed0000 + n);
  return text;
}

bool WriteSparseFile(const std::string& path, int64_t size) {
  Rng rng(7);
  // Islands 4-256 KiB about every 1 MiB.
  std::vector<Island> islands = PlaceIslands(size, 256, rng);
  return WriteImage(path, size, islands, IslandSeeds(islands.size(), rng));
}

// Waits for the first frame with this command byte; the others are passed over.
std::optional<std::vector<uint8_t>> ReceiveCommand(RawLink& link, int8_t command) {
  const auto deadline = Clock::now() + kWait;
  while (auto frame = link.Receive(deadline)) {
    if (MessageCommand(*frame) == command) return frame;
  }
  return std::nullopt;
}

// Milliseconds from connecting to the server's Hello; -1 when none came.
double TimeHello(int port) {
  const auto start = Clock::now();
  RawLink link(port);
  if (!link.connected() || !ReceiveCommand(link, CmdHello)) return -1;
  return MsSince(start);
}

bool Parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    if (arg == "--size") {
      o.size = std::stoll(argv[++i]);
    } else if (arg == "--flood") {
      o.flood = std::stoi(argv[++i]);
    } else {
      return false;
    }
  }
  return o.size >= kCheckLen && o.flood >= 0;
}

int Run(const Options& o, const std::string& work) {
  const std::string file = work + "/sparse.bin";
  if (!WriteSparseFile(file, o.size)) return 2;
  PeerProcess peer(KELPIE_PEER_PROGRAM, {"--listen", "0", "--stats", file}, work + "/peer.log");
  const int port = peer.WaitForListeningPort(60);
  RawLink hostile(port);
  if (port == 0 || !hostile.connected() || !ReceiveCommand(hostile, CmdHello)) return 2;
  hostile.Send(BuildCompareStart(file));
  auto ok = ReceiveCommand(hostile, CmdOK);
  auto accepted = ok ? ReadOk(*ok) : std::nullopt;
  if (!accepted || accepted->acknowledged != CmdCompare_Start) return 2;
  const int32_t fileId = accepted->value;

  const auto sent = Clock::now();
  hostile.Send(BuildBlockCheck(fileId, 0, kCheckLen, 0, NowhereMd5(0)));
  const double helloDuringCheck = TimeHello(port);
  auto answer = ReceiveCommand(hostile, CmdCompare_BlockAnswer);
  const double answerMs = answer ? MsSince(sent) : -1;
  auto position = answer ? ReadAnswerCheck(*answer) : std::nullopt;

  for (int n = 1; n <= o.flood; ++n)
    hostile.Send(BuildBlockCheck(fileId, 0, kCheckLen, 0, NowhereMd5(n)));
  const double helloDuringFlood = TimeHello(port);
  const auto stop = Clock::now();
  const int64_t peakKib = peer.Stop();
  const double exitMs = MsSince(stop);
  int answered = 0;
  while (auto frame = hostile.Receive(Clock::now() + std::chrono::milliseconds(200))) {
    answered += MessageCommand(*frame) == CmdCompare_BlockAnswer;
  }

  std::string line = "{\"scenario\":\"hostile-check\",\"file_bytes\":" + std::to_string(o.size);
  line += ",\"check_len\":" + std::to_string(kCheckLen);
  line += ",\"answer_ms\":" + Ms(answerMs);
  line += ",\"answer\":" + std::to_string(position ? position->position : -2);
  line += ",\"hello_during_check_ms\":" + Ms(helloDuringCheck);
  line += ",\"flood_checks\":" + std::to_string(o.flood);
  line += ",\"hello_during_flood_ms\":" + Ms(helloDuringFlood);
  line += ",\"flood_answered_before_exit\":" + std::to_string(answered);
  line += ",\"sigterm_exit_ms\":" + Ms(exitMs);
  line += ",\"server_peak_rss_kib\":" + std::to_string(peakKib);
  const LongestPass longest = ReadLongestPass(work + "/peer.log");
  line += ",\"server_longest_pass_ms\":" + Ms(longest.ms);
  line += ",\"server_longest_pass_cpu_ms\":" + Ms(longest.cpuMs) + "}";
  std::printf("%s\n", line.c_str());
  return answerMs >= 0 && helloDuringCheck >= 0 && helloDuringFlood >= 0 ? 0 : 1;
}

}  // namespace
}  // namespace kelpie::bench

int main(int argc, char** argv) {
  kelpie::bench::Options o;
  if (!kelpie::bench::Parse(argc, argv, o)) {
    std::fputs("Usage: kelpie-hostile [--size BYTES] [--flood CHECKS]\n", stderr);
    return 2;
  }
  const std::filesystem::path work =
      std::filesystem::temp_directory_path() / ("kelpie-hostile-" + std::to_string(::getpid()));
  std::filesystem::create_directories(work);
  const int status = kelpie::bench::Run(o, work.string());
  std::filesystem::remove_all(work);
  return status;
}
