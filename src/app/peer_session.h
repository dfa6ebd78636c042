#pragma once

#include <string>

#include "app/headless_window.h"
#include "app/peer_options.h"
#include "app/program.h"

namespace kelpie {

// One step each, through the same controls a user would use; each returns ""
// on success, else a one-line error.
std::string ListenOn(Program& program, HeadlessWindow& window, int32_t port);
std::string ConnectTo(Program& program, HeadlessWindow& window, const std::string& host,
                      int32_t port);
std::string OfferFile(Program& program, HeadlessWindow& window, const std::string& file);

// Brings a headless program into the roles and offers the files the options
// name, through the same commands a user would use. Returns "" on success,
// else a one-line error.
std::string StartPeerSession(Program& program, HeadlessWindow& window, const PeerOptions& options);

}  // namespace kelpie
