#include "transport/tls_stream.h"

#include <openssl/err.h>

namespace kelpie {

std::unique_ptr<TlsStream> TlsStream::Open(const TlsContext& context, int fd, bool accepting) {
  std::unique_ptr<TlsStream> stream(new TlsStream);
  stream->ssl_ = context.NewSsl(accepting, fd, stream->output_);
  if (!stream->ssl_) return nullptr;
  return stream;
}

TlsStep TlsStream::Handshake() {
  // SSL_get_error reads this thread's error queue: start it empty.
  ERR_clear_error();
  int result = SSL_do_handshake(ssl_.get());
  if (result == 1) return TlsStep::Done;
  int error = SSL_get_error(ssl_.get(), result);
  ERR_clear_error();
  switch (error) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      return TlsStep::Waiting;
    case SSL_ERROR_SSL:
      return TlsStep::Failed;
    default:
      return TlsStep::Closed;
  }
}

bool TlsStream::Established() const {
  return SSL_is_init_finished(ssl_.get()) == 1;
}

bool TlsStream::Encrypt(std::span<const uint8_t> plaintext) {
  if (plaintext.empty()) return true;
  ERR_clear_error();
  size_t written = 0;
  // The output BIO takes everything at once, so a write is never partial.
  bool ok = SSL_write_ex(ssl_.get(), plaintext.data(), plaintext.size(), &written) == 1 &&
            written == plaintext.size();
  ERR_clear_error();
  return ok;
}

TlsRead TlsStream::Read(uint8_t* buffer, int32_t room) {
  TlsRead read;
  while (read.bytes < room) {
    ERR_clear_error();
    size_t got = 0;
    if (SSL_read_ex(ssl_.get(), buffer + read.bytes, static_cast<size_t>(room - read.bytes),
                    &got) == 1) {
      read.bytes += static_cast<int32_t>(got);
      continue;
    }
    int error = SSL_get_error(ssl_.get(), 0);
    ERR_clear_error();
    read.ended = error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE;
    break;
  }
  return read;
}

bool TlsStream::HasPlaintext() const {
  return SSL_pending(ssl_.get()) > 0;
}

uint64_t TlsStream::WireBytesRead() const {
  return BIO_number_read(SSL_get_rbio(ssl_.get()));
}

}  // namespace kelpie
