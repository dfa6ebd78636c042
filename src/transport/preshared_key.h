#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kelpie {

inline constexpr size_t kPresharedKeyBytes = 32;

// The secret every program of one group holds: 256 random bits. Holding it
// is what lets a peer in; it also keys each connection's TLS handshake.
using PresharedKey = std::array<uint8_t, kPresharedKeyBytes>;

}  // namespace kelpie
