#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "transport/tls_context.h"

namespace kelpie {

// Failed: the peer holds another key, or speaks no TLS. Closed: the
// connection ended before the handshake could tell.
enum class TlsStep { Done, Waiting, Failed, Closed };

struct TlsRead {
  int32_t bytes = 0;   // plaintext delivered
  bool ended = false;  // the peer closed, or the stream cannot be trusted any more
};

// The TLS session of one secure connection over a non-blocking socket. It
// never blocks: it reads the socket itself, and everything it writes
// (handshake messages, alerts, records) collects in Output() for the owner to
// send and then clear.
class TlsStream {
 public:
  // Null when OpenSSL cannot make the session.
  static std::unique_ptr<TlsStream> Open(const TlsContext& context, int fd, bool accepting);
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // Moves the handshake on with whatever the socket holds now.
  TlsStep Handshake();
  bool Established() const;
  // Appends plaintext as records to Output(); false when the session failed.
  bool Encrypt(std::span<const uint8_t> plaintext);
  std::vector<uint8_t>& Output() { return output_; }
  // Up to room bytes of plaintext, reading records as long as the socket has them.
  TlsRead Read(uint8_t* buffer, int32_t room);
  // Plaintext already decrypted and not yet read: ready without the socket.
  bool HasPlaintext() const;
  // Bytes taken from the socket so far.
  uint64_t WireBytesRead() const;

 private:
  TlsStream() = default;

  std::vector<uint8_t> output_;  // before ssl_: the session writes here until it goes
  SslPtr ssl_;
};

}  // namespace kelpie
