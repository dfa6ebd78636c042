#pragma once

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace kelpie {

class WorkProgress;

// Bytes read per chunk when a whole file is fingerprinted.
inline constexpr int32_t kFileReadChunk = 1000000;

using Md5Digest = std::array<uint8_t, 16>;

// MD5 digest of exactly these bytes.
Md5Digest RangeDigest(std::span<const uint8_t> bytes);

// 32 lowercase hexadecimal digits, high nibble first.
std::string DigestText(const Md5Digest& digest);

// Parses 32 lowercase hexadecimal digits; false for anything else.
bool ParseDigestText(std::string_view text, Md5Digest& digest);

// Fingerprint text of a byte range.
std::string RangeFingerprint(std::span<const uint8_t> bytes);

// Fingerprint text of a whole file, or "" when the path is empty or the file
// cannot be read.
std::string FileFingerprint(std::string_view path);

// SHA-256 of a whole file: what a version-2 responder sends with its
// acceptance and what the rebuilt file is checked against.
using WholeFileHash = std::array<uint8_t, 32>;
WholeFileHash Sha256(std::span<const uint8_t> bytes);

// SHA-256 of bytes fed in pieces.
class Sha256Stream {
 public:
  Sha256Stream();
  ~Sha256Stream();
  Sha256Stream(const Sha256Stream&) = delete;
  Sha256Stream& operator=(const Sha256Stream&) = delete;
  void Feed(std::span<const uint8_t> bytes);
  WholeFileHash Finish();

 private:
  struct Free {
    void operator()(evp_md_ctx_st* ctx) const;
  };
  std::unique_ptr<evp_md_ctx_st, Free> ctx_;
};

// What "Add File to List" records of a file, read once: its MD5 text, its
// SHA-256 and its modification time in nanoseconds. md5 is "" when the file
// cannot be read. With progress, the reading reports how far it got and
// gives up (md5 "") when told to stop.
struct FileFingerprints {
  std::string md5;
  WholeFileHash sha256{};
  int64_t modified = -1;
};
FileFingerprints FingerprintFile(std::string_view path, WorkProgress* progress = nullptr);

// The file's modification time in nanoseconds; -1 when it cannot be read.
int64_t FileModified(const std::string& path);
// The same from a stat() or fstat() result.
int64_t ModifiedTime(const struct stat& info);

// The four bytes at start read as a signed little-endian long; bytes past the
// end of the data read as zero, so both sides agree on short last ranges.
int32_t StartLong(std::span<const uint8_t> data, int64_t start);

}  // namespace kelpie
