#include "app/key_file.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/unique_fd.h"

namespace kelpie {
namespace {

constexpr std::string_view kPrefix = "kelpie-key:";
constexpr char kHexDigits[] = "0123456789abcdef";
// A key file is one short line; anything much longer is not one.
constexpr size_t kMaxKeyFileBytes = 4096;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

std::string Failure(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::string KeyText(const PresharedKey& key) {
  std::string text(kPrefix);
  for (uint8_t byte : key) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0F];
  }
  return text;
}

std::optional<PresharedKey> ParseKeyText(std::string_view text) {
  text = Trimmed(text);
  if (!text.starts_with(kPrefix)) return std::nullopt;
  text.remove_prefix(kPrefix.size());
  PresharedKey key{};
  if (text.size() != 2 * key.size()) return std::nullopt;
  for (size_t i = 0; i < key.size(); ++i) {
    int high = HexValue(text[2 * i]);
    int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    key[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return key;
}

std::string WriteNewKeyFile(const std::string& path) {
  PresharedKey key{};
  if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) {
    return "no random bytes for a new key";
  }
  std::string text = KeyText(key) + "\n";
  OPENSSL_cleanse(key.data(), key.size());
  // O_EXCL: overwriting a key by mistake would lock every peer holding it out.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) return Failure("cannot create key file", path);
  // The umask may have taken the owner's bits too.
  bool written = ::fchmod(fd.get(), 0600) == 0 && WriteAll(fd.get(), text) && fd.Close();
  OPENSSL_cleanse(text.data(), text.size());
  if (!written) {
    std::string error = Failure("cannot write key file", path);
    ::unlink(path.c_str());
    return error;
  }
  return "";
}

KeyFileResult ReadKeyFile(const std::string& path) {
  KeyFileResult result;
  // O_NONBLOCK: a FIFO in the key's place must not hang the program here.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
    result.error = Failure("cannot read key file", path);
    return result;
  }
  if (!S_ISREG(info.st_mode)) {
    result.error = "key file " + path + " is not a regular file";
  } else if (info.st_uid != ::geteuid()) {
    result.error = "key file " + path + " belongs to another user";
  } else if ((info.st_mode & 077) != 0) {
    result.error = "key file " + path + " is open to other users (mode " + ModeText(info.st_mode) +
                   "); make it private with chmod 600";
  }
  if (!result.error.empty()) return result;

  std::string text(kMaxKeyFileBytes + 1, '\0');
  ssize_t n = 0;
  do {
    n = ::read(fd.get(), text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    result.error = Failure("cannot read key file", path);
    return result;
  }
  text.resize(static_cast<size_t>(n));
  result.key = ParseKeyText(text);
  OPENSSL_cleanse(text.data(), text.size());
  if (!result.key) result.error = "key file " + path + " holds no key (make one with --new-key)";
  return result;
}

}  // namespace kelpie
