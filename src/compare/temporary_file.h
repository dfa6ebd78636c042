#pragma once

#include <sys/types.h>

#include <optional>
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
  // Takes charge of a file this program made under a name of its own.
  void Adopt(const std::string& path);
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// Where a save goes: the file the path names (a symbolic link is followed,
// so saving over a link replaces the file it points to and keeps the link)
// and the permissions of the file it replaces, which the new one keeps.
struct SaveTarget {
  std::string path;
  std::optional<mode_t> mode;  // none when nothing is there yet
};
// None for an empty path or a folder.
std::optional<SaveTarget> SaveTargetOf(const std::string& path);

// Renames the temporary file over the target and makes the rename durable.
// False when the rename fails.
bool MoveIntoPlace(TemporaryFile& temporary, const SaveTarget& target);

}  // namespace kelpie
