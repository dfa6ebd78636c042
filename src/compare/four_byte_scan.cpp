// Byte scans behind the range search.
//
// FindFourBytes tests 32 (AVX2) or 16 (SSE2) offsets per step: it compares
// the first and the fourth byte of the wanted value with two unaligned loads
// three bytes apart, and only where both agree reads the whole four bytes.
// On random data one offset in 65536 passes that filter, so the scan runs at
// memory speed. FirstDifference compares the data with itself shifted by a
// distance, a block at a time, to find where a repetition ends.
#include "compare/four_byte_scan.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kelpie {
namespace {

int64_t FindFourBytesScalar(const uint8_t* data, int64_t from, int64_t last, uint32_t value) {
  const uint8_t first = static_cast<uint8_t>(value);
  for (int64_t i = from; i <= last; ++i) {
    const void* hit = std::memchr(data + i, first, static_cast<size_t>(last - i + 1));
    if (hit == nullptr) return -1;
    i = static_cast<const uint8_t*>(hit) - data;
    if (LoadFourBytes(data + i) == value) return i;
  }
  return -1;
}

int64_t FirstDifferenceScalar(const uint8_t* data, int64_t from, int64_t distance, int64_t limit) {
  for (int64_t k = from; k < limit; ++k) {
    if (data[k] != data[k - distance]) return k;
  }
  return limit;
}

// Returns the first offset in the mask (bit b is offset base + b) whose
// four bytes equal value; -2 when none does, -1 when the mask runs past last.
int64_t FirstInMask(const uint8_t* data, int64_t base, uint32_t mask, int64_t last,
                    uint32_t value) {
  while (mask != 0) {
    const int64_t i = base + std::countr_zero(mask);
    if (i > last) return -1;
    if (LoadFourBytes(data + i) == value) return i;
    mask &= mask - 1;
  }
  return -2;
}

#if defined(__x86_64__)

// Wide loads at i read up to i + 3 + width bytes; blocks stop while that fits.
__attribute__((target("avx2"))) int64_t FindFourBytesAvx2(const uint8_t* data, int64_t size,
                                                          int64_t from, int64_t last,
                                                          uint32_t value) {
  const __m256i first = _mm256_set1_epi8(static_cast<char>(value));
  const __m256i fourth = _mm256_set1_epi8(static_cast<char>(value >> 24));
  int64_t i = from;
  for (; i <= last && i + 35 <= size; i += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 3));
    const __m256i both =
        _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(d, fourth));
    const uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(both));
    if (mask == 0) continue;
    const int64_t hit = FirstInMask(data, i, mask, last, value);
    if (hit != -2) return hit;
  }
  return i <= last ? FindFourBytesScalar(data, i, last, value) : -1;
}

int64_t FindFourBytesSse2(const uint8_t* data, int64_t size, int64_t from, int64_t last,
                          uint32_t value) {
  const __m128i first = _mm_set1_epi8(static_cast<char>(value));
  const __m128i fourth = _mm_set1_epi8(static_cast<char>(value >> 24));
  int64_t i = from;
  for (; i <= last && i + 19 <= size; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 3));
    const __m128i both = _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(d, fourth));
    const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(both));
    if (mask == 0) continue;
    const int64_t hit = FirstInMask(data, i, mask, last, value);
    if (hit != -2) return hit;
  }
  return i <= last ? FindFourBytesScalar(data, i, last, value) : -1;
}

__attribute__((target("avx2"))) int64_t FirstDifferenceAvx2(const uint8_t* data, int64_t from,
                                                            int64_t distance, int64_t limit) {
  int64_t k = from;
  for (; k + 32 <= limit; k += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + k));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + k - distance));
    const uint32_t same = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, b)));
    if (same != 0xffffffffu) return k + std::countr_one(same);
  }
  return FirstDifferenceScalar(data, k, distance, limit);
}

int64_t FirstDifferenceSse2(const uint8_t* data, int64_t from, int64_t distance, int64_t limit) {
  int64_t k = from;
  for (; k + 16 <= limit; k += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + k - distance));
    const uint32_t same = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
    if (same != 0xffffu) return k + std::countr_one(same);
  }
  return FirstDifferenceScalar(data, k, distance, limit);
}

#endif

}  // namespace

ScanLevel BestScanLevel() {
#if defined(__x86_64__)
  static const ScanLevel best =
      __builtin_cpu_supports("avx2") ? ScanLevel::kAvx2 : ScanLevel::kSse2;
  return best;
#else
  return ScanLevel::kPortable;
#endif
}

int64_t FindFourBytes(std::span<const uint8_t> data, int64_t from, int64_t last, uint32_t value,
                      ScanLevel level) {
  if (from > last) return -1;
  level = std::min(level, BestScanLevel());
#if defined(__x86_64__)
  const auto size = static_cast<int64_t>(data.size());
  if (level == ScanLevel::kAvx2) return FindFourBytesAvx2(data.data(), size, from, last, value);
  if (level == ScanLevel::kSse2) return FindFourBytesSse2(data.data(), size, from, last, value);
#endif
  return FindFourBytesScalar(data.data(), from, last, value);
}

int64_t FirstDifference(std::span<const uint8_t> data, int64_t from, int64_t distance,
                        int64_t limit, ScanLevel level) {
  // Most comparisons fail at once; settle those before any wide load.
  const int64_t quick = std::min(limit, from + 8);
  for (; from < quick; ++from) {
    if (data[from] != data[from - distance]) return from;
  }
  level = std::min(level, BestScanLevel());
#if defined(__x86_64__)
  if (level == ScanLevel::kAvx2) return FirstDifferenceAvx2(data.data(), from, distance, limit);
  if (level == ScanLevel::kSse2) return FirstDifferenceSse2(data.data(), from, distance, limit);
#endif
  return FirstDifferenceScalar(data.data(), from, distance, limit);
}

}  // namespace kelpie
