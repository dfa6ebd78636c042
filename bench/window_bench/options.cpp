#include "options.h"

#include <cstdlib>
#include <string_view>
#include <vector>

namespace kelpie::bench {

const char kWindowBenchUsage[] =
    "Usage: kelpie-window-bench [--netversion 1|2] [--timeout SECONDS] LOCAL PEER\n"
    "       kelpie-window-bench [--netversion 1|2] [--timeout SECONDS]\n"
    "                           --scenario identical|edit|insert|delete|append|disjoint\n"
    "                           --size BYTES\n"
    "\n"
    "Starts kelpie-peer offering PEER, runs the window program offering LOCAL and\n"
    "drives Connect, Add File, Compare, Syncronize and the save through its controls,\n"
    "checks the saved file against PEER and prints one JSON line. Needs a display\n"
    "(xvfb-run -a) or QT_QPA_PLATFORM=offscreen. Exit status 0 when the saved file\n"
    "matched, 1 otherwise, 2 for bad arguments.\n";

bool ParseWindowBenchOptions(int argc, char** argv, WindowBenchOptions& o) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--scenario" && hasValue) {
      o.scenario = argv[++i];
    } else if (arg == "--size" && hasValue) {
      o.size = std::atoll(argv[++i]);
    } else if (arg == "--netversion" && hasValue) {
      o.netVersion = std::atoi(argv[++i]);
      if (o.netVersion != 1 && o.netVersion != 2) return false;
    } else if (arg == "--timeout" && hasValue) {
      o.timeout = std::atof(argv[++i]);
    } else if (!arg.starts_with("-")) {
      files.emplace_back(arg);
    } else {
      return false;
    }
  }
  if (!o.scenario.empty()) return files.empty() && o.size > 0;
  if (files.size() != 2) return false;
  o.local = files[0];
  o.peer = files[1];
  return true;
}

}  // namespace kelpie::bench
