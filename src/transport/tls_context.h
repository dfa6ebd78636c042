#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <vector>

#include "transport/preshared_key.h"

namespace kelpie {

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
  void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};
using SslPtr = std::unique_ptr<SSL, SslFree>;

// TLS 1.3 settings shared by every secure connection of one program: an
// external pre-shared key, always combined with an (EC)DHE exchange so that
// recorded sessions stay secret if the key leaks later. No certificates:
// holding the key is the only credential.
class TlsContext {
 public:
  // Null when OpenSSL cannot set the context up.
  static std::unique_ptr<TlsContext> Create(const PresharedKey& key);
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // A connection's TLS object for the accepting or the connecting side,
  // reading from socket fd (not owned) and appending what it writes to
  // output, which must outlive it. Null on failure.
  SslPtr NewSsl(bool accepting, int fd, std::vector<uint8_t>& output) const;

 private:
  TlsContext() = default;

  std::unique_ptr<SSL_CTX, SslFree> context_;
  std::unique_ptr<SSL_SESSION, SslFree> key_;  // the key, as the session both sides resume
  std::unique_ptr<BIO_METHOD, SslFree> outputMethod_;
};

}  // namespace kelpie
