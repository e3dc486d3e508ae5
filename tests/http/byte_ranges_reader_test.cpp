#include "http/byte_ranges_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/exceptions.h"
#include "support/http_peer.h"
#include "support/receive_pieces.h"
#include "support/scripted_io_handler.h"

namespace {

using testsupport::AnswerHttpReplies;
using testsupport::HttpReply;
using testsupport::ScriptedIOHandler;

// The whole body the ranges are taken from: 100 bytes, each a letter that tells where it stands.
const std::string kWhole = [] {
  std::string whole;
  for (int index = 0; index < 100; ++index) whole += static_cast<char>('A' + index % 26);
  return whole;
}();
const std::vector<TByteRange> kAsked = {{0, 9}, {50, 59}, {90, 99}};

std::string Part(int64_t first, int64_t last, const std::string& total = "100") {
  return "--SEP\r\nContent-Type: application/zip\r\nContent-Range: bytes " + std::to_string(first) + "-" +
         std::to_string(last) + "/" + total + "\r\n\r\n" + kWhole.substr(first, last - first + 1) + "\r\n";
}

std::string Response(const std::string& body, const std::string& head = "Content-Type: multipart/byteranges; boundary=SEP\r\n") {
  return "HTTP/1.1 206 Partial Content\r\n" + head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

struct ReaderCase {
  const char* name;
  std::string response;
  std::string outcome;  // "ok", or the start of the failure's message
  std::string written;  // the body as the parts filled it in, '.' where nothing came
};

// kWhole with only the asked bytes in place.
std::string Filled(const std::vector<TByteRange>& ranges) {
  std::string written(kWhole.size(), '.');
  for (const TByteRange& range : ranges) {
    written.replace(range.First, range.Last - range.First + 1, kWhole.substr(range.First, range.Last - range.First + 1));
  }
  return written;
}

std::vector<ReaderCase> Cases() {
  const std::string close = "--SEP--\r\n";
  const std::string cut = Response(Part(0, 9) + Part(50, 59));
  return {
      {"InOrder", Response("\r\n" + Part(0, 9) + Part(50, 59) + Part(90, 99) + close), "ok", Filled(kAsked)},
      {"OutOfOrder", Response(Part(90, 99) + Part(0, 9) + Part(50, 59) + close + "epilogue"), "ok", Filled(kAsked)},
      {"SinglePart", Response(kWhole.substr(50, 10), "Content-Range: bytes 50-59/100\r\n"), "ok",
       Filled({{50, 59}})},
      {"PartNotAskedFor", Response(Part(0, 9) + Part(40, 59) + close),
       "The multipart body has the part \"bytes 40-59/100\", which was not asked for", Filled({{0, 9}})},
      {"PartTwice", Response(Part(0, 9) + Part(0, 9) + close), "The multipart body has the part \"bytes 0-9/100\"",
       Filled({{0, 9}})},
      {"WrongTotal", Response(Part(0, 9) + Part(50, 59, "101") + close),
       "The multipart body has the part \"bytes 50-59/101\"", Filled({{0, 9}})},
      {"MissingBoundary",
       Response(Part(0, 9) + Part(50, 59).substr(7) + close), "The multipart body misses its boundary",
       Filled({{0, 9}})},
      {"BytesAfterAPart", Response(Part(0, 9).insert(80, "X") + close), "The multipart body has bytes after the part 0-9",
       Filled({{0, 9}})},
      {"CutInsidePart", cut.substr(0, cut.size() - 6), "The multipart body ended inside a part",
       Filled({{0, 9}, {50, 55}})},
      {"NoClosingBoundary", Response(Part(0, 9)), "The multipart body ended before its closing boundary",
       Filled({{0, 9}})},
      {"WholeBody", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + kWhole,
       "The multipart body was answered by \"HTTP/1.1 200 OK\"", Filled({})},
  };
}

void PrintTo(const ReaderCase& row, std::ostream* out) { *out << row.name; }

class ByteRangesReaderTest : public ::testing::TestWithParam<std::tuple<ReaderCase, int>> {};

TEST_P(ByteRangesReaderTest, FillsTheAskedRangesOrFails) {
  const auto& [row, piece] = GetParam();
  ScriptedIOHandler peer(AnswerHttpReplies({HttpReply{row.response, /*closeAfter=*/true}}), piece);
  TIdHTTP http;
  http.SetIOHandler(&peer);
  http.SetReadTimeout(5000);
  std::string written(kWhole.size(), '.');
  TByteRangesReader reader(http.Response(), kAsked, 100, [&](int64_t offset, const uint8_t* data, int64_t count) {
    written.replace(static_cast<size_t>(offset), static_cast<size_t>(count), reinterpret_cast<const char*>(data),
                    static_cast<size_t>(count));
  });
  std::string outcome = "ok";
  try {
    http.Get("http://127.0.0.1:8080/app.zip", reader);
    reader.Finish();
  } catch (const EIdException& error) {
    outcome = error.Message();
  }
  EXPECT_EQ(outcome.substr(0, row.outcome.size()), row.outcome) << outcome;
  EXPECT_EQ(written, row.written);
}

INSTANTIATE_TEST_SUITE_P(Bodies, ByteRangesReaderTest,
                         ::testing::Combine(::testing::ValuesIn(Cases()), testsupport::kReceivePieces),
                         [](const ::testing::TestParamInfo<std::tuple<ReaderCase, int>>& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == 1 ? "OneByteReceives" : "WholeReceives");
                         });

}  // namespace
