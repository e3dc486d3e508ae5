// A whole GET against a server whose every byte is the fuzz input. The connection reads through the tests'
// scripted in-memory peer (the socket handler seam the connection layer gives every transport), so the
// exchange runs its status line, header block, body framings, redirects and authorisation retries without a
// socket.
//
// Input layout:
//   byte 0   largest piece one receive hands out (0: 1 byte; the pieces split lines, CR LF and chunk sizes)
//   byte 1   bit 0 follow redirects, bit 1 speak HTTP/1.0, bit 2 send credentials and retry on a challenge
//   the rest what the server sends on its one connection; it closes it after the last byte
#include <string>

#include "fuzz_entries.h"
#include "http/http_client.h"
#include "support/scripted_io_handler.h"

void FuzzHttpResponse(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const int piece = input.Byte();
  const uint8_t options = input.Byte();
  const std::string served = input.Rest();

  // A zero piece hands out one byte, as does 1.
  testsupport::ScriptedIOHandler handler({{served}}, piece);
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
