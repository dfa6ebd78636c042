// The key is handed to OpenSSL as a TLS 1.3 session that both sides "resume"
// under one fixed identity: the client offers it with a binder only the key
// can make, the server checks the binder, and a peer with another key or none
// fails the handshake before any application byte is read. psk_ke (key without
// a fresh exchange) is never allowed, so every connection also runs X25519 or
// another (EC)DHE group. Tickets are off: a session is never resumed by
// anything but the key itself.
//
// A connection reads its socket through OpenSSL's socket BIO, which takes only
// the records it needs, so the socket still shows whether more bytes wait.
// Writes go to a BIO of our own that appends to the connection's output, which
// the endpoints send with MSG_NOSIGNAL and queue like plain bytes.

#include "transport/tls_context.h"

#include <openssl/evp.h>

#include <cstring>

namespace kelpie {
namespace {

constexpr unsigned char kIdentity[] = {'k', 'e', 'l', 'p', 'i', 'e'};
// TLS_AES_256_GCM_SHA384, by its two-byte code.
constexpr unsigned char kCipherCode[] = {0x13, 0x02};

SSL_SESSION* KeyOf(SSL* ssl) {
  return static_cast<SSL_SESSION*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
}

int UseKey(SSL* ssl, const EVP_MD* digest, const unsigned char** identity, size_t* identityLength,
           SSL_SESSION** session) {
  SSL_SESSION* key = KeyOf(ssl);
  const EVP_MD* keyDigest = SSL_CIPHER_get_handshake_digest(SSL_SESSION_get0_cipher(key));
  // After a retried hello the suite is fixed; a key for another hash cannot be offered.
  if (digest != nullptr && EVP_MD_get_type(digest) != EVP_MD_get_type(keyDigest)) {
    *identity = nullptr;
    *identityLength = 0;
    *session = nullptr;
    return 1;
  }
  SSL_SESSION_up_ref(key);
  *identity = kIdentity;
  *identityLength = sizeof kIdentity;
  *session = key;
  return 1;
}

int FindKey(SSL* ssl, const unsigned char* identity, size_t identityLength, SSL_SESSION** session) {
  *session = nullptr;
  if (identityLength == sizeof kIdentity && std::memcmp(identity, kIdentity, identityLength) == 0) {
    SSL_SESSION_up_ref(KeyOf(ssl));
    *session = KeyOf(ssl);
  }
  return 1;  // no session found is a failed handshake, not an internal error
}

int AppendOutput(BIO* bio, const char* data, size_t length, size_t* written) {
  auto* output = static_cast<std::vector<uint8_t>*>(BIO_get_data(bio));
  // As bytes of the vector's own type, so the copy is one memmove.
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  output->insert(output->end(), bytes, bytes + length);
  *written = length;
  return 1;
}

long OutputControl(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

}  // namespace

std::unique_ptr<TlsContext> TlsContext::Create(const PresharedKey& key) {
  std::unique_ptr<TlsContext> tls(new TlsContext);
  tls->context_.reset(SSL_CTX_new(TLS_method()));
  SSL_CTX* context = tls->context_.get();
  if (context == nullptr || SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) != 1 ||
      SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) != 1 ||
      SSL_CTX_set_ciphersuites(context, "TLS_AES_256_GCM_SHA384") != 1 ||
      SSL_CTX_set_num_tickets(context, 0) != 1) {
    return nullptr;
  }
  SSL_CTX_set_options(context, SSL_OP_NO_TICKET | SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_clear_options(context, SSL_OP_ALLOW_NO_DHE_KEX);

  // The suite is looked up through a connection object, as OpenSSL asks.
  SslPtr probe(SSL_new(context));
  const SSL_CIPHER* cipher = probe ? SSL_CIPHER_find(probe.get(), kCipherCode) : nullptr;
  tls->key_.reset(SSL_SESSION_new());
  SSL_SESSION* session = tls->key_.get();
  if (cipher == nullptr || session == nullptr ||
      SSL_SESSION_set1_master_key(session, key.data(), key.size()) != 1 ||
      SSL_SESSION_set_cipher(session, cipher) != 1 ||
      SSL_SESSION_set_protocol_version(session, TLS1_3_VERSION) != 1) {
    return nullptr;
  }
  SSL_CTX_set_app_data(context, session);
  SSL_CTX_set_psk_use_session_callback(context, UseKey);
  SSL_CTX_set_psk_find_session_callback(context, FindKey);

  tls->outputMethod_.reset(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "output"));
  BIO_METHOD* method = tls->outputMethod_.get();
  if (method == nullptr || BIO_meth_set_write_ex(method, AppendOutput) != 1 ||
      BIO_meth_set_ctrl(method, OutputControl) != 1) {
    return nullptr;
  }
  return tls;
}

SslPtr TlsContext::NewSsl(bool accepting, int fd, std::vector<uint8_t>& output) const {
  SslPtr ssl(SSL_new(context_.get()));
  if (!ssl) return nullptr;
  BIO* input = BIO_new_socket(fd, BIO_NOCLOSE);
  BIO* out = BIO_new(outputMethod_.get());
  if (input == nullptr || out == nullptr) {
    BIO_free(input);
    BIO_free(out);
    return nullptr;
  }
  BIO_set_data(out, &output);
  BIO_set_init(out, 1);
  SSL_set_bio(ssl.get(), input, out);  // the connection owns both from here
  if (accepting) {
    SSL_set_accept_state(ssl.get());
  } else {
    SSL_set_connect_state(ssl.get());
  }
  return ssl;
}

}  // namespace kelpie
