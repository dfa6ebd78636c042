#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpie::bench {

// Names of the generated file pairs: the local file and the peer's version.
const std::vector<std::string>& ScenarioNames();

// Writes local and peer files of about size bytes for a scenario, streaming
// (no whole file in memory). False for an unknown name or a write failure.
bool WriteScenario(const std::string& name, int64_t size, const std::string& localPath,
                   const std::string& peerPath);

// True when both files exist and hold the same bytes.
bool SameContent(const std::string& a, const std::string& b);

int64_t FileSize(const std::string& path);
// Disk space the file takes (st_blocks * 512): less than its size when it
// has holes. -1 when it does not exist.
int64_t DiskBytes(const std::string& path);

}  // namespace kelpie::bench
