#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace kelpie {

// Content-defined cut points of a file, the same on both sides of a
// version-2 comparison. The file is cut into small chunks wherever a rolling
// hash of the last 64 bytes is small enough, so equal content is cut at equal
// places whatever lies before it. Every cut also has a level: the smaller the
// hash, the higher the level, and the ranges between cuts of at least level k
// form level k. Each level holds about eight ranges of the level below, so a
// range can be checked whole and, when it is not found, through its parts.
inline constexpr int kTopChunkLevel = 3;
inline constexpr int64_t kMinChunk = 128;
inline constexpr int64_t kMaxChunk = 8192;
// A range of level k is never longer than this; a longer one is cut at its
// next small chunk, so long runs of one byte value still form ranges.
int64_t MaxRangeLength(int level);

// A growable array of plain values in memory from malloc, whose room can be
// given back: a large one grows and shrinks by remapping its pages rather
// than copying them (glibc), so building one needs no second copy, and it
// holds what MemoryBytes says.
template <typename T>
class PodBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PodBuffer() = default;
  PodBuffer(const PodBuffer& other) { *this = other; }
  PodBuffer(PodBuffer&& other) noexcept { Swap(other); }
  PodBuffer& operator=(const PodBuffer& other);
  PodBuffer& operator=(PodBuffer&& other) noexcept {
    PodBuffer(std::move(other)).Swap(*this);
    return *this;
  }
  ~PodBuffer() { std::free(data_); }

  void Reserve(size_t capacity);
  // Holds exactly `count` copies of value.
  void Assign(size_t count, const T& value);
  void Shrink() { Resize(size_); }
  void push_back(const T& value) {
    if (size_ == capacity_) Reserve(capacity_ + capacity_ / 2 + 64);
    data_[size_++] = value;
  }
  // Keeps the first `size` values and gives back the room behind them.
  void Truncate(size_t size) { Resize(size < size_ ? size : size_); }

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  size_t MemoryBytes() const { return capacity_ * sizeof(T); }

 private:
  void Resize(size_t capacity);
  void Swap(PodBuffer& other) noexcept;

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Moves a malloc block to `bytes` bytes (freeing it at 0); throws
// std::bad_alloc when memory runs out, as a vector would.
void* ResizeBlock(void* block, size_t bytes);

template <typename T>
PodBuffer<T>& PodBuffer<T>::operator=(const PodBuffer& other) {
  if (this != &other) {
    Resize(0);
    Reserve(other.size_);
    for (size_t i = 0; i < other.size_; ++i)
      data_[i] = other.data_[i];
    size_ = other.size_;
  }
  return *this;
}

template <typename T>
void PodBuffer<T>::Assign(size_t count, const T& value) {
  Resize(count);
  for (size_t i = 0; i < count; ++i)
    data_[i] = value;
  size_ = count;
}

template <typename T>
void PodBuffer<T>::Reserve(size_t capacity) {
  if (capacity > capacity_) Resize(capacity);
}

template <typename T>
void PodBuffer<T>::Resize(size_t capacity) {
  data_ = static_cast<T*>(ResizeBlock(data_, capacity * sizeof(T)));
  capacity_ = capacity;
  if (size_ > capacity) size_ = capacity;
}

template <typename T>
void PodBuffer<T>::Swap(PodBuffer& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
}

// The small chunks of a file, in order: each chunk's length and the level of
// the cut at its end, two bytes a chunk, with the start of every 64th chunk
// so any chunk's offset is found in a few steps.
class ChunkCuts {
 public:
  size_t Count() const { return cuts_.size(); }
  bool Empty() const { return cuts_.empty(); }
  // Start, end, length and cut level of chunk i < Count().
  int64_t Start(size_t i) const;
  int64_t End(size_t i) const { return Start(i) + Length(i); }
  int64_t Length(size_t i) const { return (cuts_[i] & kLengthMask) + 1; }
  int Level(size_t i) const { return cuts_[i] >> kLevelShift; }
  // The first chunk ending after `offset`; Count() when none does.
  size_t FirstEndingAfter(int64_t offset) const;
  // Bytes held.
  size_t MemoryBytes() const { return cuts_.MemoryBytes() + groupStarts_.MemoryBytes(); }

  // Appends the chunk ending at `end` (after the last one, at most kMaxChunk
  // further) with its cut's level.
  void Add(int64_t end, int level);
  // Gives back room reserved while cutting.
  void Shrink();
  void Reserve(size_t chunks);

 private:
  static constexpr int kGroupBits = 6;
  static constexpr uint16_t kLengthMask = 0x1fff;  // length - 1; kMaxChunk - 1 fits
  static constexpr int kLevelShift = 13;

  PodBuffer<uint16_t> cuts_;
  PodBuffer<int64_t> groupStarts_;  // start of chunk g << kGroupBits
  int64_t end_ = 0;                 // end of the last chunk
};

// Called with the runs of zeros the cutting steps over without hashing, each
// whole (from a nonzero byte or the start to a nonzero byte or the end) and
// once, in order. Every run of at least 512 zeros is among them.
class ZeroRunSink {
 public:
  virtual void ZeroRun(int64_t start, int64_t end) = 0;

 protected:
  ~ZeroRunSink() = default;
};

// Cuts data one small chunk at a time, in order. A run of zeros is stepped
// over without hashing each byte: the rolling hash of 64 zeros is a constant
// that is no cut, so the cuts are those the byte-by-byte rule gives.
class ChunkCutter {
 public:
  explicit ChunkCutter(std::span<const uint8_t> data, ZeroRunSink* zeros = nullptr);
  // The end and level of the next small chunk; false after the last.
  bool Next(int64_t& end, int& level);

 private:
  std::pair<int64_t, int> NextCut(int64_t start);
  int64_t SkipZeros(int64_t from, int64_t limit);

  std::span<const uint8_t> data_;
  ZeroRunSink* zeros_;
  int64_t pos_ = 0;
  int64_t lastCut_[kTopChunkLevel + 1] = {};  // latest cut of each level or higher
  int64_t zeroRunStart_ = 0;                  // the last run of zeros stepped over
  int64_t zeroRunEnd_ = 0;
  int64_t prefaulted_ = 0;  // pages mapped ahead of the cutting up to here
};

class WorkProgress;

// Small chunks cut between two reports of progress (and looks at whether to
// stop): a millisecond or two of work.
inline constexpr size_t kChunksPerReport = 4096;

// With progress, the cutting reports how far it got, every kChunksPerReport
// chunks, and ends early, with the cuts so far, once it is told to stop.
// With zeros, the runs of zeros it steps over go there.
ChunkCuts CutChunks(std::span<const uint8_t> data, WorkProgress* progress = nullptr,
                    ZeroRunSink* zeros = nullptr);

// A range of one level: [start, start + len).
struct ChunkRange {
  int64_t start = 0;
  int64_t len = 0;
};

// The ranges of `level` inside [start, end), which must be cuts of that level
// or higher. Empty for an empty span.
std::vector<ChunkRange> RangesOfLevel(const ChunkCuts& cuts, int level, int64_t start, int64_t end);

// The parts of a range of `level` one level down, or further down while that
// gives a single part; `partLevel` is set to the level of the parts. Empty
// when the range is one small chunk.
std::vector<ChunkRange> PartsOf(const ChunkCuts& cuts, int level, const ChunkRange& range,
                                int& partLevel);

// The 64-bit fingerprint of a range's bytes that version-2 checks carry.
uint64_t RangeHash(std::span<const uint8_t> bytes);

}  // namespace kelpie
