#pragma once

#include <cstddef>
#include <cstdint>

namespace kelpie {

// The length of a mapping that covers size bytes: whole pages.
size_t MappingLength(int64_t size);

// Keeps a file mapping from killing the program when its file shrinks.
//
// Touching a page of a mapping past its file's end (the file was truncated
// by another program), or writing a page the disk has no room for, raises
// SIGBUS. While a mapping is guarded, such a page is replaced by a page of
// zeros and the mapping is marked damaged, so the access goes on and the
// owner can notice and give the file up. Faults anywhere else go to the
// handling that was there before.
class MappingGuard {
 public:
  MappingGuard() = default;
  // Guards [begin, begin + length). An unguarded mapping (every slot in use)
  // still works; it only lacks the protection.
  MappingGuard(void* begin, size_t length);
  ~MappingGuard();
  MappingGuard(const MappingGuard&) = delete;
  MappingGuard& operator=(const MappingGuard&) = delete;

  // True once a page of the mapping had to be replaced by zeros.
  bool Damaged() const;

 private:
  int slot_ = -1;
};

}  // namespace kelpie
