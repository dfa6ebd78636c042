#pragma once

#include <string>

namespace kelpie::bench {

struct WindowRunSetup {
  std::string localPath;    // offered by the window program
  std::string peerPath;     // offered by the kelpie-peer process
  std::string savePath;     // where the synchronised file is saved
  std::string peerProgram;  // path of kelpie-peer
  std::string workDir;
  int netVersion = 0;  // 0: both programs speak their default
  double timeoutSeconds = 3600;
};

struct WindowRunResult {
  std::string error;  // empty when the run got to the end
  double compareSeconds = 0;
  double syncSeconds = 0;
  // Processor time the window program spent comparing, its own and the
  // system's for it: what it costs, whoever else shares the processors.
  double compareCpuSeconds = 0;
  bool match = false;
};

// Starts kelpie-peer listening and offering the peer file, then runs the
// window program (needs a QApplication) as the client that offers the local
// file: Connect, Add File, both files selected, Compare, the job selected,
// Syncronize and the save, all through the window's controls. Closes the
// window at the end and checks the saved file against the peer's.
WindowRunResult RunWindowComparison(const WindowRunSetup& setup);

}  // namespace kelpie::bench
