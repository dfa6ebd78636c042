#pragma once

#include <string>

#include "app/program.h"

namespace kelpie {

// Where the window program looks for its key: $XDG_CONFIG_HOME/kelpie/key,
// or ~/.config/kelpie/key; "" when neither can be named.
std::string UserKeyPath();

// Switches program to secure mode with the key in path and says so in its
// log. Must run before either role starts. Returns "" on success, else a
// one-line error.
std::string UseKeyFile(Program& program, const std::string& path);

// Secure mode with the user's key file when there is one; a program without
// one stays in plain mode. Returns "" unless the file exists and cannot be used.
std::string UseUserKeyFile(Program& program);

}  // namespace kelpie
