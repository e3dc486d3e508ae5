// A request for three byte ranges of a 100-byte body against a server whose every byte is the fuzz input,
// its body read by the byte ranges reader (the scripted in-memory peer stands for the socket, as for
// http_response).
//
// Input layout:
//   byte 0   largest piece one receive hands out (0: 1 byte)
//   the rest what the server sends on its one connection; it closes it after the last byte
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "http/byte_ranges_reader.h"
#include "support/scripted_io_handler.h"

void FuzzByteRanges(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const int piece = input.Byte();
  const std::string served = input.Rest();
  const std::vector<TByteRange> asked = {{0, 9}, {50, 59}, {90, 99}};

  testsupport::ScriptedIOHandler handler({{served}}, piece);
  TIdHTTP client;
  client.SetIOHandler(&handler);
  std::vector<int> writes(100, 0);
  TByteRangesReader reader(client.Response(), asked, 100, [&](int64_t offset, const uint8_t*, int64_t count) {
    for (int64_t at = offset; at < offset + count; ++at) {
      const bool inAsked = (at >= 0 && at <= 9) || (at >= 50 && at <= 59) || (at >= 90 && at <= 99);
      FuzzCheck(inAsked, "a byte written outside the ranges asked for");
      FuzzCheck(++writes[static_cast<size_t>(at)] == 1, "a byte written twice");
    }
  });
  try {
    client.Get("http://update.example/app/update.zip", reader);
    reader.Finish();
    // A whole body: every part it named was written whole.
    for (const TByteRange& range : reader.Received()) {
      for (int64_t at = range.First; at <= range.Last; ++at) {
        FuzzCheck(writes[static_cast<size_t>(at)] == 1, "a received part with a byte not written");
      }
    }
  } catch (const Exception&) {
    // Every failure is one of ours: a refused status, a broken framing, a part not asked for.
  }
  client.SetIOHandler(nullptr);
}
