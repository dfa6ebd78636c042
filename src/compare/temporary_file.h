#pragma once

#include <string>

namespace kelpie {

// A new file beside a target, removed when this goes unless it was kept
// (renamed into place).
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates a fresh file in the target's folder, open for reading and
  // writing, and returns its descriptor; -1 when the folder refuses it.
  int Create(const std::string& target);
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// The file a path names: a symbolic link is followed, so saving over a link
// replaces the file it points to and keeps the link.
std::string ResolveTarget(const std::string& path);

// Makes a rename in the folder of path durable.
void SyncFolderOf(const std::string& path);

}  // namespace kelpie
