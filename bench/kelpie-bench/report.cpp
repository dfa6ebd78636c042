#include "report.h"

#include <algorithm>
#include <cstdio>

namespace kelpie::bench {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

double Largest(const std::vector<double>& values) {
  return values.empty() ? -1 : *std::max_element(values.begin(), values.end());
}

std::string List(const std::vector<double>& values) {
  std::string text = "[";
  for (size_t i = 0; i < values.size(); ++i)
    text += (i == 0 ? "" : ",") + Seconds(values[i]);
  return text + "]";
}

}  // namespace

std::string JsonLine(const RunLabel& label, const RunResult& result) {
  std::string line = "{";
  line += "\"scenario\":" + Quoted(label.scenario);
  line += ",\"initiator\":" + Quoted(label.initiator);
  line += ",\"local_bytes\":" + std::to_string(label.localBytes);
  line += ",\"peer_bytes\":" + std::to_string(label.peerBytes);
  line += ",\"netversion\":" + std::to_string(label.netVersion);
  line += ",\"rtt_ms\":" + std::to_string(label.rttMs);
  line += ",\"secure\":" + std::string(label.secure ? "true" : "false");
  line += ",\"compare_seconds\":" + Seconds(result.compareSeconds);
  line += ",\"sync_seconds\":" + Seconds(result.syncSeconds);
  line += ",\"checks_sent\":" + std::to_string(result.checks);
  line += ",\"gets_sent\":" + std::to_string(result.gets);
  line += ",\"wire_bytes_sent\":" + std::to_string(result.wireSent);
  line += ",\"wire_bytes_received\":" + std::to_string(result.wireReceived);
  line += ",\"initiator_peak_rss_kib\":" + std::to_string(result.initiatorPeakKb);
  line += ",\"peer_peak_rss_kib\":" + std::to_string(result.peerPeakKb);
  line += ",\"initiator_peak_anon_kib\":" + std::to_string(result.initiatorPeakAnonKb);
  line += ",\"peer_peak_anon_kib\":" + std::to_string(result.peerPeakAnonKb);
  line += ",\"sync_wire_bytes_received\":" + std::to_string(result.syncReceived);
  line += ",\"peer_disk_bytes\":" + std::to_string(label.peerDiskBytes);
  line += ",\"saved_disk_bytes\":" + std::to_string(result.savedDiskBytes);
  line += ",\"match\":" + std::string(result.match ? "true" : "false");
  if (!label.run.empty()) line += ",\"run\":" + Quoted(label.run);
  if (result.killed) line += ",\"killed\":true";
  if (!result.error.empty()) line += ",\"error\":" + Quoted(result.error);
  return line + "}";
}

std::string ClientsJsonLine(const ClientsResult& result) {
  std::string line = "{\"scenario\":\"clients\"";
  line += ",\"clients\":" + std::to_string(result.clients);
  line += ",\"client_processes\":" + std::to_string(result.processes);
  line += ",\"server_bytes\":" + std::to_string(result.serverBytes);
  line += ",\"local_bytes\":" + std::to_string(result.localBytes);
  line += ",\"netversion\":" + std::to_string(result.netVersion);
  line += ",\"rtt_ms\":" + std::to_string(result.rttMs);
  line += ",\"secure\":" + std::string(result.secure ? "true" : "false");
  line += ",\"seconds\":" + Seconds(result.seconds);
  line += ",\"saved_matching\":" + std::to_string(result.matched);
  line += ",\"server_peak_rss_kib\":" + std::to_string(result.serverPeakKb);
  line += ",\"server_peak_anon_kib\":" + std::to_string(result.serverPeakAnonKb);
  line += ",\"server_longest_pass_ms\":" + Seconds(result.serverLongestPassMs);
  line += ",\"server_longest_pass_cpu_ms\":" + Seconds(result.serverLongestPassCpuMs);
  line += ",\"client_longest_pass_ms\":" + Seconds(result.clientLongestPassMs);
  line += ",\"client_longest_pass_cpu_ms\":" + Seconds(result.clientLongestPassCpuMs);
  line += ",\"compare_seconds_max\":" + Seconds(Largest(result.compareSeconds));
  line += ",\"sync_seconds_max\":" + Seconds(Largest(result.syncSeconds));
  line += ",\"compare_seconds\":" + List(result.compareSeconds);
  line += ",\"sync_seconds\":" + List(result.syncSeconds);
  bool match = result.error.empty() && result.matched == result.clients;
  line += ",\"match\":" + std::string(match ? "true" : "false");
  if (!result.error.empty()) line += ",\"error\":" + Quoted(result.error);
  return line + "}";
}

}  // namespace kelpie::bench
