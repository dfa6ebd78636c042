#pragma once

#include <cstddef>
#include <span>
#include <utility>

namespace kelpie {

// Zero-filled memory mapped on its own for the index's large arrays, backed
// by huge pages where the system allows: scattering writes over hundreds of
// MiB otherwise spends most of its time on page faults and TLB misses. Null
// when the memory cannot be had.
void* MapIndexMemory(size_t bytes);
void UnmapIndexMemory(void* memory, size_t bytes);

template <typename T>
class IndexArray {
 public:
  IndexArray() = default;
  explicit IndexArray(size_t count)
      : data_(static_cast<T*>(MapIndexMemory(count * sizeof(T)))), size_(data_ ? count : 0) {}
  ~IndexArray() { UnmapIndexMemory(data_, size_ * sizeof(T)); }
  IndexArray(IndexArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  IndexArray& operator=(IndexArray&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
  }

  size_t size() const { return size_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  std::span<T> span() { return {data_, size_}; }
  std::span<const T> span() const { return {data_, size_}; }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace kelpie
