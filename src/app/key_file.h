#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "transport/preshared_key.h"

namespace kelpie {

// A key file holds one line, "kelpie-key:" and the key's 64 hex digits, so it
// can be copied between machines as text. It must be a regular file that
// only its owner can read or write.

struct KeyFileResult {
  std::optional<PresharedKey> key;
  std::string error;  // one line; empty when key holds the key
};

std::string KeyText(const PresharedKey& key);
// The key in text, ignoring surrounding white space; nothing when malformed.
std::optional<PresharedKey> ParseKeyText(std::string_view text);

// Writes a fresh random key to path, which must not exist yet, with mode
// 0600. Returns "" on success, else a one-line error.
std::string WriteNewKeyFile(const std::string& path);
// Reads the key at path, refusing a file others could read or change.
KeyFileResult ReadKeyFile(const std::string& path);

}  // namespace kelpie
