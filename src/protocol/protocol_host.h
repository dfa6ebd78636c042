#pragma once

#include <string_view>

#include "compare/engine_host.h"

namespace kelpie {

// The two file views: the server's files (left) and the clients' (right).
enum class FileView { Server, Client };

// What the message handlers need from the program around them, beyond the
// engine's needs: the file views and the "Client" label.
class ProtocolHost : public EngineHost {
 public:
  virtual void ClearFileView(FileView view) = 0;
  virtual void AddFileRow(FileView view, std::string_view name, std::string_view md5) = 0;
  virtual void SetClientsLabel(std::string_view text) = 0;
};

}  // namespace kelpie
