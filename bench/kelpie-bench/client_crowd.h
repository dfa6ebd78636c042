#pragma once

#include <poll.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"

namespace kelpie::bench {

struct CrowdMember;

// Many client programs in one process, each connected to the same server,
// offering a local file of its own, comparing it with the server's one file
// and saving the synchronised version where it is told. They take passes in
// turn, and when none has work they wait together on all their sockets, so a
// process holds many clients without one's idle wait stalling the others.
class ClientCrowd {
 public:
  struct Client {
    std::string localPath;
    std::string savePath;
  };

  // keyFile non-empty: every client in secure mode with that key.
  ClientCrowd(int port, int netVersion, const std::string& keyFile,
              const std::vector<Client>& clients);
  ~ClientCrowd();
  ClientCrowd(const ClientCrowd&) = delete;
  ClientCrowd& operator=(const ClientCrowd&) = delete;

  // Connects every client, offers its file and selects both files, so that
  // Compare is one click away. "" on success, else the first error.
  std::string Prepare(std::chrono::steady_clock::time_point deadline);
  // Compare, then Syncronize and the save, each client as soon as it can.
  // "" when every client saved, else why not.
  std::string CompareAndSave(std::chrono::steady_clock::time_point deadline);

  // After CompareAndSave: each client's seconds from its Compare click to the
  // end of the comparison and from its Syncronize click to the save (-1 when
  // it did not get there), and the longest main-loop pass any client took.
  struct Times {
    double compareSeconds = -1;
    double syncSeconds = -1;
  };
  std::vector<Times> ClientTimes() const;
  PassStats LongestPass() const;

 private:
  // One pass of every client, then one wait on all sockets when none has
  // work.
  void Round();
  std::string RunUntilSettled(std::chrono::steady_clock::time_point deadline);

  int port_;
  std::string keyFile_;
  std::vector<pollfd> fds_;
  std::vector<std::unique_ptr<CrowdMember>> members_;
};

}  // namespace kelpie::bench
