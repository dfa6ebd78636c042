#include "compare/partial_file.h"

#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "compare/vector_state.h"
#include "transport/little_endian.h"

// A partial file is the rebuilt file as far as it got, followed by a trailer:
//
//   body:  u64 peer size | 32-byte peer SHA-256 | u32 run count |
//          run count x (u64 start | u64 length)
//   tail:  u32 body length | u64 XXH3 of the body | 8-byte magic
//
// all little-endian. The tail is found from the end of the file, so the data
// before it keeps its offsets.

namespace kelpie {
namespace {

constexpr char kMagic[8] = {'K', 'E', 'L', 'P', 'A', 'R', 'T', '1'};
constexpr size_t kTailSize = 4 + 8 + sizeof kMagic;
constexpr size_t kBodyFixed = 8 + 32 + 4;
constexpr size_t kRunSize = 16;
// More runs than this is not a trailer this program wrote.
constexpr uint32_t kMaxRuns = uint32_t{1} << 24;

bool ReadExactly(int fd, std::span<uint8_t> into, off_t at) {
  size_t done = 0;
  while (done < into.size()) {
    const ssize_t n =
        ::pread(fd, into.data() + done, into.size() - done, at + static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

uint64_t Checksum(std::span<const uint8_t> body) {
  const uint64_t sum = XXH3_64bits(body.data(), body.size());
  ClearUpperVectorState();
  return sum;
}

}  // namespace

void HeldRanges::Add(int64_t start, int64_t len) {
  if (len <= 0) return;
  int64_t end = start + len;
  auto it = runs_.upper_bound(start);
  if (it != runs_.begin() && std::prev(it)->second >= start) {
    --it;
    start = it->first;
    end = std::max(end, it->second);
  }
  while (it != runs_.end() && it->first <= end) {
    end = std::max(end, it->second);
    bytes_ -= it->second - it->first;
    it = runs_.erase(it);
  }
  runs_[start] = end;
  bytes_ += end - start;
}

int64_t HeldRanges::RunEnd(int64_t at) const {
  auto it = runs_.upper_bound(at);
  if (it == runs_.begin()) return at;
  --it;
  return it->second > at ? it->second : at;
}

int64_t HeldRanges::NextStart(int64_t at, int64_t limit) const {
  auto it = runs_.upper_bound(at);
  return it == runs_.end() ? limit : std::min(it->first, limit);
}

std::string PartialPathFor(const std::string& localPath) {
  const size_t slash = localPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : localPath.substr(0, slash + 1);
  const std::string name =
      (slash == std::string::npos ? localPath : localPath.substr(slash + 1)).substr(0, 200);
  return folder + "." + name + ".kelpie-partial";
}

std::vector<uint8_t> PartialTrailer(const PartialIdentity& identity, const HeldRanges& held) {
  const size_t bodySize = kBodyFixed + kRunSize * held.runs().size();
  std::vector<uint8_t> bytes(bodySize + kTailSize);
  const std::span<uint8_t> out(bytes);
  WriteU64(out, 0, static_cast<uint64_t>(identity.size));
  std::memcpy(bytes.data() + 8, identity.hash.data(), identity.hash.size());
  WriteU32(out, 40, static_cast<uint32_t>(held.runs().size()));
  size_t at = kBodyFixed;
  for (const auto& [start, end] : held.runs()) {
    WriteU64(out, at, static_cast<uint64_t>(start));
    WriteU64(out, at + 8, static_cast<uint64_t>(end - start));
    at += kRunSize;
  }
  WriteU32(out, bodySize, static_cast<uint32_t>(bodySize));
  WriteU64(out, bodySize + 4, Checksum(out.first(bodySize)));
  std::memcpy(bytes.data() + bodySize + 12, kMagic, sizeof kMagic);
  return bytes;
}

std::optional<PartialState> ReadPartialTrailer(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const int64_t fileSize = info.st_size;
  std::array<uint8_t, kTailSize> tail{};
  if (fileSize < static_cast<int64_t>(kTailSize + kBodyFixed) ||
      !ReadExactly(fd, tail, static_cast<off_t>(fileSize - static_cast<int64_t>(kTailSize))) ||
      std::memcmp(tail.data() + 12, kMagic, sizeof kMagic) != 0) {
    return std::nullopt;
  }
  const uint32_t bodySize = ReadU32(tail, 0);
  if (bodySize < kBodyFixed || bodySize > fileSize - static_cast<int64_t>(kTailSize)) {
    return std::nullopt;
  }
  std::vector<uint8_t> body(bodySize);
  const int64_t bodyAt = fileSize - static_cast<int64_t>(kTailSize) - bodySize;
  if (!ReadExactly(fd, body, static_cast<off_t>(bodyAt)) || Checksum(body) != ReadU64(tail, 4)) {
    return std::nullopt;
  }
  PartialState state;
  state.identity.size = static_cast<int64_t>(ReadU64(body, 0));
  std::memcpy(state.identity.hash.data(), body.data() + 8, state.identity.hash.size());
  const uint32_t count = ReadU32(body, 40);
  // The data comes first and is exactly the peer's size long.
  if (count > kMaxRuns || bodySize != kBodyFixed + kRunSize * count ||
      state.identity.size != bodyAt) {
    return std::nullopt;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const auto start = static_cast<int64_t>(ReadU64(body, kBodyFixed + kRunSize * i));
    const auto len = static_cast<int64_t>(ReadU64(body, kBodyFixed + kRunSize * i + 8));
    if (start < 0 || len <= 0 || len > state.identity.size - start) return std::nullopt;
    state.held.Add(start, len);
  }
  return state;
}

}  // namespace kelpie
