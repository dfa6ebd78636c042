#include "compare/fingerprint.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "common/unique_fd.h"
#include "compare/background_work.h"

namespace kelpie {
namespace {

struct MdDeleter {
  void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct CtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// Fetched once: an implicit fetch on every digest costs more than hashing a
// small range.
const EVP_MD* Md5() {
  static const std::unique_ptr<EVP_MD, MdDeleter> md(EVP_MD_fetch(nullptr, "MD5", nullptr));
  return md.get();
}

// Incremental MD5 over one reusable context per thread.
class Md5Stream {
 public:
  Md5Stream() : ctx_(Context()) { EVP_DigestInit_ex2(ctx_, Md5(), nullptr); }
  void Feed(std::span<const uint8_t> bytes) { EVP_DigestUpdate(ctx_, bytes.data(), bytes.size()); }
  Md5Digest Finish() {
    Md5Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx_, digest.data(), &length);
    return digest;
  }

 private:
  static EVP_MD_CTX* Context() {
    thread_local std::unique_ptr<EVP_MD_CTX, CtxDeleter> ctx(EVP_MD_CTX_new());
    return ctx.get();
  }
  EVP_MD_CTX* ctx_;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

Sha256Stream::Sha256Stream() : ctx_(EVP_MD_CTX_new()) {
  EVP_DigestInit_ex2(ctx_.get(), EVP_sha256(), nullptr);
}

Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::Feed(std::span<const uint8_t> bytes) {
  EVP_DigestUpdate(ctx_.get(), bytes.data(), bytes.size());
}

WholeFileHash Sha256Stream::Finish() {
  WholeFileHash digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx_.get(), digest.data(), &length);
  return digest;
}

void Sha256Stream::Free::operator()(evp_md_ctx_st* ctx) const {
  EVP_MD_CTX_free(ctx);
}

Md5Digest RangeDigest(std::span<const uint8_t> bytes) {
  Md5Stream stream;
  stream.Feed(bytes);
  return stream.Finish();
}

std::string DigestText(const Md5Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(32, '0');
  for (size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 0x0f];
  }
  return text;
}

bool ParseDigestText(std::string_view text, Md5Digest& digest) {
  if (text.size() != 32) return false;
  for (size_t i = 0; i < digest.size(); ++i) {
    int high = HexValue(text[2 * i]);
    int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

std::string RangeFingerprint(std::span<const uint8_t> bytes) {
  return DigestText(RangeDigest(bytes));
}

std::string FileFingerprint(std::string_view path) {
  return FingerprintFile(path).md5;
}

FileFingerprints FingerprintFile(std::string_view path, WorkProgress* progress) {
  if (path.empty()) return {};
  UniqueFd file(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return {};
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return {};
  int64_t remaining = info.st_size;
  // No larger than the file: offering a small file costs no megabyte of zeros.
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(remaining, kFileReadChunk)));
  Md5Stream stream;
  Sha256Stream sha;
  while (remaining > 0) {
    size_t want = static_cast<size_t>(std::min<int64_t>(remaining, kFileReadChunk));
    ssize_t got = ::read(file.get(), buffer.data(), want);
    // A read error, a directory or a file that shrank while it was read has
    // no trustworthy fingerprint.
    if (got <= 0) return {};
    std::span<const uint8_t> chunk(buffer.data(), static_cast<size_t>(got));
    stream.Feed(chunk);
    sha.Feed(chunk);
    remaining -= got;
    if (progress != nullptr) {
      progress->SetDone(info.st_size - remaining);
      if (progress->StopRequested()) return {};
    }
  }
  return {DigestText(stream.Finish()), sha.Finish(), ModifiedTime(info)};
}

int64_t ModifiedTime(const struct stat& info) {
  return int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
}

int64_t FileModified(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return -1;
  return ModifiedTime(info);
}

WholeFileHash Sha256(std::span<const uint8_t> bytes) {
  Sha256Stream sha;
  sha.Feed(bytes);
  return sha.Finish();
}

int32_t StartLong(std::span<const uint8_t> data, int64_t start) {
  uint32_t value = 0;
  for (int64_t i = 0; i < 4; ++i) {
    int64_t at = start + i;
    if (at >= 0 && at < static_cast<int64_t>(data.size())) {
      value |= static_cast<uint32_t>(data[static_cast<size_t>(at)]) << (8 * i);
    }
  }
  return static_cast<int32_t>(value);
}

}  // namespace kelpie
