#include "app/secure_mode.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "app/key_file.h"

namespace kelpie {

std::string UserKeyPath() {
  // The base directory specification ignores a relative XDG_CONFIG_HOME.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/kelpie/key";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/kelpie/key";
  return "";
}

std::string UseKeyFile(Program& program, const std::string& path) {
  KeyFileResult read = ReadKeyFile(path);
  if (!read.key) return read.error;
  if (!program.state.network.UseKey(*read.key)) return "cannot set up TLS for secure mode";
  program.host.AddLog("Secure mode on: only peers holding the key in " + path +
                      " get in, over TLS 1.3");
  return "";
}

std::string UseUserKeyFile(Program& program) {
  std::string path = UserKeyPath();
  struct stat info {};
  if (path.empty() || (::lstat(path.c_str(), &info) != 0 && errno == ENOENT)) return "";
  return UseKeyFile(program, path);
}

}  // namespace kelpie
