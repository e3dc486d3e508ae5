// A whole GET against a server whose every byte is the fuzz input. The connection reads through an
// in-memory socket handler (the same seam the connection layer gives every transport), so the exchange
// runs its status line, header block, body framings, redirects and authorisation retries without a socket.
//
// Input layout:
//   byte 0   largest piece one receive hands out (0: 1 byte; the pieces split lines, CR LF and chunk sizes)
//   byte 1   bit 0 follow redirects, bit 1 speak HTTP/1.0, bit 2 send credentials and retry on a challenge
//   the rest what the server sends; it closes the connection after the last byte
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz_entries.h"
#include "http/http_client.h"
#include "net/io_handler.h"

namespace {

class TFuzzIOHandler : public TIdIOHandler {
 public:
  TFuzzIOHandler(std::string bytes, int piece) : m_bytes(std::move(bytes)), m_piece(std::max(piece, 1)) {}

  bool WaitReadable(int) override { return true; }
  int ReceiveSome(void* buffer, int length) override {
    const size_t n = std::min({static_cast<size_t>(std::max(length, 0)), m_bytes.size() - m_position,
                               static_cast<size_t>(m_piece)});
    std::memcpy(buffer, m_bytes.data() + m_position, n);
    m_position += n;
    return static_cast<int>(n);
  }
  int SendSome(const void*, int length) override { return length; }

 private:
  std::string m_bytes;
  size_t m_position = 0;
  int m_piece;
};

}  // namespace

void FuzzHttpResponse(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const int piece = input.Byte();
  const uint8_t options = input.Byte();
  const std::string served = input.Rest();

  TFuzzIOHandler handler(served, piece);
  TIdHTTP client;
  client.SetIOHandler(&handler);
  client.HandleRedirects = (options & 1) != 0;
  client.ProtocolVersion = (options & 2) != 0 ? pv1_0 : pv1_1;
  if ((options & 4) != 0) {
    client.Request().Username = "user";
    client.Request().Password = "secret";
    client.HTTPOptions |= hoInProcessAuth;
  }
  TMemoryStream body;
  try {
    client.Get("http://update.example/app/update.zip", body);
    // Every body byte came from the server, once.
    FuzzCheck(body.Size() <= static_cast<int64_t>(served.size()), "body larger than what the server sent");
  } catch (const Exception&) {
    // Every failure of the exchange is one of ours: protocol errors, closed connections, bad framings.
  }
  client.SetIOHandler(nullptr);
}
