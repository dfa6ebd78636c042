#include "compare/range_search.h"

#include "compare/fingerprint.h"

namespace kelpie {
namespace {

bool RangeMatches(std::span<const uint8_t> data, int64_t at, int64_t len, int32_t startLong,
                  const Md5Digest& digest) {
  return StartLong(data, at) == startLong &&
         RangeDigest(data.subspan(static_cast<size_t>(at), static_cast<size_t>(len))) == digest;
}

}  // namespace

struct RangeSearch::State {
  std::span<const uint8_t> data;
};

RangeSearch::RangeSearch(std::span<const uint8_t> data) : state_(std::make_unique<State>()) {
  state_->data = data;
}

RangeSearch::~RangeSearch() = default;

int32_t RangeSearch::Find(int32_t start, int32_t len, int32_t startLong, std::string_view md5) {
  Md5Digest digest{};
  if (!ParseDigestText(md5, digest) || len < 0) return -1;
  const std::span<const uint8_t> data = state_->data;
  const int64_t size = static_cast<int64_t>(data.size());
  const int64_t length = len;
  if (start >= 0 && start + length <= size &&
      RangeMatches(data, start, length, startLong, digest)) {
    return start;
  }
  for (int64_t i = 0; i <= size - length; ++i) {
    if (RangeMatches(data, i, length, startLong, digest)) return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t NaiveFindRange(std::span<const uint8_t> data, int32_t start, int32_t len, int32_t startLong,
                       std::string_view md5) {
  if (len < 0) return -1;
  const int64_t size = static_cast<int64_t>(data.size());
  const int64_t length = len;
  const auto matches = [&](int64_t at) {
    return StartLong(data, at) == startLong &&
           RangeFingerprint(data.subspan(static_cast<size_t>(at), static_cast<size_t>(length))) ==
               md5;
  };
  if (start >= 0 && start + length <= size && matches(start)) return start;
  for (int64_t i = 0; i <= size - length; ++i) {
    if (matches(i)) return static_cast<int32_t>(i);
  }
  return -1;
}

}  // namespace kelpie
