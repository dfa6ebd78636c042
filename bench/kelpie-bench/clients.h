#pragma once

#include <cstdint>
#include <string>

#include "options.h"

namespace kelpie::bench {

// One kelpie-peer offers a file of `size` bytes; o.clients client programs,
// spread over one process per core, each hold it with 1000 bytes inserted in
// the middle and, all at once, compare, synchronise and save. Prints one JSON
// line: the time from the first Compare click to the last save, how many
// saved files equal the server's, and the server's peak memory. True when
// every client saved a file equal to the server's.
bool RunClients(const Options& o, int64_t size, const std::string& work);

}  // namespace kelpie::bench
