#include "rtl/streams.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Content(const TMemoryStream& stream) { return stream.DataString(); }

TEST(MemoryStreamTest, PreSizedPieceByPieceKeepsEveryPiece) {
  // A chunked body: each chunk pre-sizes the stream to its end, then is written; growth must keep the
  // earlier chunks whatever the reallocation does.
  TMemoryStream stream;
  std::string expected;
  for (int chunk = 0; chunk < 200; ++chunk) {
    const std::string piece(static_cast<size_t>(1000 + chunk * 37), static_cast<char>('a' + chunk % 26));
    const int64_t position = stream.Position();
    stream.SetSize(position + static_cast<int64_t>(piece.size()));
    stream.SetPosition(position);
    stream.WriteBuffer(piece.data(), static_cast<int64_t>(piece.size()));
    expected += piece;
  }
  EXPECT_EQ(stream.Size(), static_cast<int64_t>(expected.size()));
  EXPECT_EQ(Content(stream), expected);
}

TEST(MemoryStreamTest, PresizedAndCutAtTheEndHoldsOnlyTheWrittenBytes) {
  TMemoryStream stream;
  stream.SetSize(1 << 20);
  stream.WriteBuffer("head", 4);
  stream.SetSize(stream.Position());
  EXPECT_EQ(Content(stream), "head");
}

TEST(MemoryStreamTest, WritePastTheEndFillsTheGapWithZeros) {
  TMemoryStream stream;
  stream.WriteBuffer("ab", 2);
  stream.SetSize(1);  // the capacity keeps the old 'b' behind the end
  stream.SetPosition(5);
  stream.WriteBuffer("z", 1);
  EXPECT_EQ(Content(stream), std::string("a\0\0\0\0z", 6));
}

TEST(MemoryStreamTest, ReadsStopAtTheSizeAndClearEmpties) {
  TMemoryStream stream;
  stream.WriteBuffer("abcdef", 6);
  stream.SetSize(3);
  stream.SetPosition(0);
  char buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, 8), 3);
  EXPECT_EQ(std::string(buffer), "abc");
  stream.Clear();
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
  stream.WriteBuffer("x", 1);
  EXPECT_EQ(Content(stream), "x");
}

}  // namespace
