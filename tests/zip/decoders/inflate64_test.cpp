#include "zip/decoders/inflate64.h"

#include <algorithm>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <zlib.h>

#include "decoder_memory_context.h"
#include "zip/legacy_zip_member.h"
#include "lsb_bit_writer.h"
#include "zip/decoders/decoders.h"
#include "zip/decoders/huffman_table.h"

namespace {

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& data, int level, int strategy) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
  std::vector<uint8_t> out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16);
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::vector<uint8_t> SampleData(const std::string& kind, size_t size) {
  std::mt19937 random(static_cast<unsigned>(size) * 7 + static_cast<unsigned>(kind.size()));
  std::vector<uint8_t> data(size);
  if (kind == "random") {
    for (auto& byte : data) byte = static_cast<uint8_t>(random());
  } else if (kind == "text") {
    const std::string words[] = {"update ", "archive ", "member ", "window ", "\r\n", "deflate ", "the "};
    size_t i = 0;
    while (i < size)
      for (char c : words[random() % 7])
        if (i < size) data[i++] = static_cast<uint8_t>(c);
  } else if (kind == "runs") {
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i / 300) % 3);
  } else {  // "mixed": long-distance repeats of random blocks
    for (size_t i = 0; i < size; ++i)
      data[i] = i >= 20000 && random() % 8 != 0 ? data[i - 20000 + (i % 7)] : static_cast<uint8_t>(random());
  }
  return data;
}

struct TRoundTrip {
  const char* Kind;
  size_t Size;
  int Level;
  int Strategy;
  int64_t ReadPiece;
};

class Inflate64DeflateTest : public testing::TestWithParam<TRoundTrip> {};

TEST_P(Inflate64DeflateTest, DecodesZlibDeflateOutput) {
  const TRoundTrip& row = GetParam();
  const std::vector<uint8_t> original = SampleData(row.Kind, row.Size);
  TDecoderMemoryContext memory(RawDeflate(original, row.Level, row.Strategy), static_cast<int64_t>(row.Size), 8);
  memory.ReadPiece = row.ReadPiece;
  TInflate64 decoder(memory.Member, memory.Context, TDeflateVariant::Deflate);
  EXPECT_EQ(decoder.Run(), TDecodeStatus::Ok);
  ASSERT_EQ(memory.Output.size(), original.size());
  EXPECT_TRUE(memory.Output == original);
  // Output leaves in whole 32 KiB windows; only the last write is shorter.
  for (size_t i = 0; i + 1 < memory.Writes.size(); ++i) EXPECT_EQ(memory.Writes[i], 32768);
  EXPECT_EQ(memory.ProgressReports, static_cast<int>(memory.Writes.size()));  // once per window
  EXPECT_EQ(memory.ArchiveRemaining, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Varied, Inflate64DeflateTest,
    testing::Values(TRoundTrip{"text", 0, 6, Z_DEFAULT_STRATEGY, 0}, TRoundTrip{"text", 1, 9, Z_DEFAULT_STRATEGY, 0},
                    TRoundTrip{"text", 200000, 9, Z_DEFAULT_STRATEGY, 0},
                    TRoundTrip{"text", 70000, 6, Z_DEFAULT_STRATEGY, 1},
                    TRoundTrip{"random", 100000, 6, Z_DEFAULT_STRATEGY, 31},
                    TRoundTrip{"random", 150000, 0, Z_DEFAULT_STRATEGY, 0},
                    TRoundTrip{"runs", 300000, 9, Z_RLE, 0}, TRoundTrip{"runs", 90000, 1, Z_FIXED, 7},
                    TRoundTrip{"mixed", 250000, 9, Z_DEFAULT_STRATEGY, 0},
                    TRoundTrip{"mixed", 120000, 4, Z_HUFFMAN_ONLY, 0},
                    TRoundTrip{"mixed", 120000, 5, Z_FILTERED, 4096}));

TEST(Inflate64Test, DecodesDeflate64Fixture) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip("legacy/deflate64-small.zip");
  ASSERT_EQ(members.size(), 1u);
  ASSERT_EQ(members[0].Method, 9);
  TDecoderMemoryContext memory(members[0].Compressed, members[0].UncompressedSize, 9);
  EXPECT_EQ(Inflate64(memory.Member, memory.Context), TDecodeStatus::Ok);
  EXPECT_EQ(memory.Output, ReadFixture("legacy/deflate64-small.expected"));
  EXPECT_EQ(memory.OutputCrc(), members[0].Crc);
}

// Made by 7-Zip: a 30000-byte block repeated 60000 bytes later (distance codes 30 and 31) and long runs
// (length code 285 with its 16 extra bits).
TEST(Inflate64Test, DecodesLongReachFixture) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip("legacy/deflate64-long-reach.zip");
  ASSERT_EQ(members.size(), 1u);
  for (int64_t piece : {0, 13}) {
    TDecoderMemoryContext memory(members[0].Compressed, members[0].UncompressedSize, 9);
    memory.ReadPiece = piece;
    EXPECT_EQ(Inflate64(memory.Member, memory.Context), TDecodeStatus::Ok);
    EXPECT_EQ(static_cast<int64_t>(memory.Output.size()), members[0].UncompressedSize);
    EXPECT_EQ(memory.OutputCrc(), members[0].Crc);
    for (size_t i = 0; i + 1 < memory.Writes.size(); ++i) EXPECT_EQ(memory.Writes[i], 65536);
  }
}

// Fixed-block codes (RFC 1951, 3.2.6).
void PutFixedLiteral(TLsbBitWriter& bits, int value) {
  if (value < 144) bits.PutCode(0x30 + value, 8);
  else bits.PutCode(0x190 + value - 144, 9);
}
void PutFixedLength(TLsbBitWriter& bits, int code) {
  if (code < 280) bits.PutCode(code - 256, 7);
  else bits.PutCode(0xC0 + code - 280, 8);
}
void PutStored(TLsbBitWriter& bits, const std::vector<uint8_t>& data, bool last) {
  bits.Put(last ? 1 : 0, 1).Put(0, 2).AlignToByte();
  bits.Put(static_cast<uint32_t>(data.size()), 16).Put(~static_cast<uint32_t>(data.size()) & 0xFFFF, 16);
  for (uint8_t byte : data) bits.Put(byte, 8);
}

TEST(Inflate64Test, LengthCode285WithExtra65535CopiesLength65538) {
  TLsbBitWriter bits;
  bits.Put(1, 1).Put(1, 2);
  PutFixedLiteral(bits, 'a');
  PutFixedLength(bits, 285);
  bits.Put(65535, 16);
  bits.PutCode(0, 5);  // distance code 0: one back
  PutFixedLength(bits, 256);
  TDecoderMemoryContext memory(bits.Bytes(), 1 + 65538, 9);
  EXPECT_EQ(Inflate64(memory.Member, memory.Context), TDecodeStatus::Ok);
  ASSERT_EQ(memory.Output.size(), 65539u);
  EXPECT_EQ(std::count(memory.Output.begin(), memory.Output.end(), 'a'), 65539);
  EXPECT_EQ(memory.Writes, (std::vector<int64_t>{65536, 3}));
}

TEST(Inflate64Test, Length285IsPlain258WithoutTheSwitch) {
  TLsbBitWriter bits;
  bits.Put(1, 1).Put(1, 2);
  PutFixedLiteral(bits, 'z');
  PutFixedLength(bits, 285);
  bits.PutCode(0, 5);
  PutFixedLength(bits, 256);
  TDecoderMemoryContext memory(bits.Bytes(), 259, 8);
  EXPECT_EQ(TInflate64(memory.Member, memory.Context, TDeflateVariant::Deflate).Run(), TDecodeStatus::Ok);
  EXPECT_EQ(memory.Output, std::vector<uint8_t>(259, 'z'));
}

// Two stored blocks make 65536 + 100 distinct-looking bytes; a fixed block then copies with distance codes
// 30 and 31 (up to 65536 back).
TEST(Inflate64Test, DistanceCodes30And31ReachBack65536) {
  std::vector<uint8_t> history(65636);
  for (size_t i = 0; i < history.size(); ++i) history[i] = static_cast<uint8_t>((i * 131) ^ (i >> 8));
  TLsbBitWriter bits;
  PutStored(bits, std::vector<uint8_t>(history.begin(), history.begin() + 40000), /*last=*/false);
  PutStored(bits, std::vector<uint8_t>(history.begin() + 40000, history.end()), /*last=*/false);
  bits.Put(1, 1).Put(1, 2);
  PutFixedLength(bits, 258);  // length 4
  bits.PutCode(31, 5).Put(16383, 14);  // distance 49153 + 16383 = 65536
  PutFixedLength(bits, 257);  // length 3
  bits.PutCode(30, 5).Put(0, 14);  // distance 32769
  PutFixedLength(bits, 256);
  std::vector<uint8_t> expected = history;
  for (int i = 0; i < 4; ++i) expected.push_back(expected[expected.size() - 65536]);
  for (int i = 0; i < 3; ++i) expected.push_back(expected[expected.size() - 32769]);

  TDecoderMemoryContext memory(bits.Bytes(), static_cast<int64_t>(expected.size()), 9);
  TInflate64 decoder64(memory.Member, memory.Context, TDeflateVariant::Deflate64);
  EXPECT_EQ(decoder64.Run(), TDecodeStatus::Ok);
  EXPECT_EQ(memory.Output.size(), expected.size());
  EXPECT_TRUE(memory.Output == expected);

  TDecoderMemoryContext plain(bits.Bytes(), static_cast<int64_t>(expected.size()), 8);
  TInflate64 decoder(plain.Member, plain.Context, TDeflateVariant::Deflate);
  EXPECT_EQ(decoder.Run(), TDecodeStatus::InvalidData);  // codes 30 and 31 do not exist in Deflate
}

TEST(Inflate64Test, EmptyFixedBlockWritesNothing) {
  TDecoderMemoryContext memory({0x03, 0x00}, 0, 8);
  EXPECT_EQ(TInflate64(memory.Member, memory.Context, TDeflateVariant::Deflate).Run(), TDecodeStatus::Ok);
  EXPECT_TRUE(memory.Output.empty());
  EXPECT_TRUE(memory.Writes.empty());
}

TEST(Inflate64Test, StoredLengthMismatchKeepsEarlierData) {
  TLsbBitWriter bits;
  PutStored(bits, {'a', 'b', 'c'}, /*last=*/false);
  bits.Put(1, 1).Put(0, 2).AlignToByte().Put(5, 16).Put(0x1234, 16);
  TDecoderMemoryContext memory(bits.Bytes(), 100, 9);
  TInflate64 decoder(memory.Member, memory.Context, TDeflateVariant::Deflate64);
  EXPECT_EQ(decoder.Run(), TDecodeStatus::InvalidData);
  EXPECT_EQ(memory.Output, (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST(Inflate64Test, TruncatedMemberEndsWithInputExhausted) {
  const std::vector<uint8_t> original = SampleData("text", 50000);
  std::vector<uint8_t> compressed = RawDeflate(original, 9, Z_DEFAULT_STRATEGY);
  compressed.resize(compressed.size() / 2);
  TDecoderMemoryContext memory(compressed, 50000, 8);
  TInflate64 decoder(memory.Member, memory.Context, TDeflateVariant::Deflate);
  EXPECT_EQ(decoder.Run(), TDecodeStatus::InputEnded);
  EXPECT_LT(memory.Output.size(), original.size());
}

TEST(Inflate64Test, CancelStopsWithoutWritingThePartlyFilledWindow) {
  const std::vector<uint8_t> original = SampleData("text", 200000);
  TDecoderMemoryContext memory(RawDeflate(original, 6, Z_DEFAULT_STRATEGY), 200000, 9);
  memory.AfterWrite = [](TDecoderMemoryContext& m) { m.Cancel = true; };
  TInflate64 decoder(memory.Member, memory.Context, TDeflateVariant::Deflate);
  EXPECT_EQ(decoder.Run(), TDecodeStatus::Cancelled);
  EXPECT_EQ(memory.Writes, std::vector<int64_t>{32768});
}

TEST(Inflate64Test, ShortWriteIsOutputShort) {
  const std::vector<uint8_t> original = SampleData("runs", 100000);
  TDecoderMemoryContext memory(RawDeflate(original, 6, Z_DEFAULT_STRATEGY), 100000, 8);
  memory.WriteLimit = 1000;
  TInflate64 decoder(memory.Member, memory.Context, TDeflateVariant::Deflate);
  EXPECT_EQ(decoder.Run(), TDecodeStatus::OutputShort);
  EXPECT_EQ(memory.Writes.size(), 1u);
}

// A member that produces more than its declared size is damaged: nothing past the size is written.
TEST(Inflate64Test, StopsAtTheDeclaredSize) {
  const std::vector<uint8_t> original = SampleData("runs", 100000);
  TDecoderMemoryContext memory(RawDeflate(original, 6, Z_DEFAULT_STRATEGY), 40000, 8);
  TInflate64 decoder(memory.Member, memory.Context, TDeflateVariant::Deflate);
  EXPECT_EQ(decoder.Run(), TDecodeStatus::InvalidData);
  EXPECT_EQ(memory.Output, std::vector<uint8_t>(original.begin(), original.begin() + 40000));
}

// Dynamic block headers: HLIT 257, HDIST 1, HCLEN 19 with the given code-length code lengths (in the
// header's order), followed by raw code-length codes written by the caller.
TLsbBitWriter DynamicHeader(const std::vector<int>& codeLengthLengths, int hlit = 257, int hdist = 1) {
  TLsbBitWriter bits;
  bits.Put(1, 1).Put(2, 2).Put(static_cast<uint32_t>(hlit - 257), 5).Put(static_cast<uint32_t>(hdist - 1), 5);
  bits.Put(static_cast<uint32_t>(codeLengthLengths.size() - 4), 4);
  for (int length : codeLengthLengths) bits.Put(static_cast<uint32_t>(length), 3);
  return bits;
}

struct THostileStream {
  const char* Name;
  std::vector<uint8_t> Bytes;
  TDecodeStatus Status;
};

std::vector<THostileStream> HostileStreams() {
  std::vector<THostileStream> rows;
  rows.push_back({"block type 3", {0x07, 0, 0, 0}, TDecodeStatus::InvalidData});
  {
    TLsbBitWriter bits;  // fixed block with length code 286
    bits.Put(1, 1).Put(1, 2);
    PutFixedLength(bits, 286);
    bits.Put(0, 16);
    rows.push_back({"length code 286", bits.Bytes(), TDecodeStatus::InvalidData});
  }
  // Code-length codes: order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1 15. With lengths 2 for 16, 17,
  // 18 and 0 the codes are 0 -> 00, 16 -> 01, 17 -> 10, 18 -> 11.
  rows.push_back({"incomplete code-length code", DynamicHeader({0, 0, 0, 1}).Put(0, 16).Bytes(),
                  TDecodeStatus::InvalidData});
  rows.push_back({"over-subscribed code-length code", DynamicHeader({1, 1, 1, 1}).Put(0, 16).Bytes(),
                  TDecodeStatus::InvalidData});
  {
    // Code-length code: 16, 17, 18 and 0 of length 2 each. Symbol 16 repeating past 258 lengths.
    TLsbBitWriter bits = DynamicHeader({2, 2, 2, 2});
    bits.PutCode(3, 2).Put(127, 7).PutCode(3, 2).Put(108, 7);  // 18: 138 + 119 zeros = 257
    bits.PutCode(1, 2).Put(3, 2);                               // 16: 6 more, past 258
    rows.push_back({"repeat 16 past the lengths", bits.Bytes(), TDecodeStatus::BadHeader});
    TLsbBitWriter bits17 = DynamicHeader({2, 2, 2, 2});
    bits17.PutCode(3, 2).Put(127, 7).PutCode(3, 2).Put(108, 7).PutCode(2, 2).Put(7, 3);
    rows.push_back({"repeat 17 past the lengths", bits17.Bytes(), TDecodeStatus::BadHeader});
    TLsbBitWriter bits18 = DynamicHeader({2, 2, 2, 2});
    bits18.PutCode(3, 2).Put(127, 7).PutCode(3, 2).Put(108, 7);
    rows.push_back({"repeat 18 past the lengths", bits18.PutCode(3, 2).Put(0, 7).Bytes(), TDecodeStatus::InvalidData});
    TLsbBitWriter zeros = DynamicHeader({2, 2, 2, 2});
    zeros.PutCode(3, 2).Put(127, 7).PutCode(3, 2).Put(109, 7);  // 138 + 120 = 258 zeros
    rows.push_back({"no literal codes at all", zeros.Put(0, 16).Bytes(), TDecodeStatus::InvalidData});
  }
  return rows;
}

TEST(Inflate64Test, HostileStreamsEndWithTheirStatus) {
  for (const THostileStream& row : HostileStreams()) {
    for (TDeflateVariant variant : {TDeflateVariant::Deflate, TDeflateVariant::Deflate64}) {
      TDecoderMemoryContext memory(row.Bytes, 1000, 9);
      TInflate64 decoder(memory.Member, memory.Context, variant);
      EXPECT_EQ(decoder.Run(), row.Status) << row.Name;
    }
  }
}

TEST(Inflate64Test, GarbageNeverCrashes) {
  std::mt19937 random(12345);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> garbage(1 + random() % 3000);
    for (auto& byte : garbage) byte = static_cast<uint8_t>(random());
    TDecoderMemoryContext memory(garbage, 200000, 9);
    TInflate64 decoder(memory.Member, memory.Context,
                       round % 2 == 0 ? TDeflateVariant::Deflate64 : TDeflateVariant::Deflate);
    decoder.Run();
    EXPECT_LE(memory.Output.size(), 200000u);
  }
}

struct TTableRow {
  const char* Name;
  std::vector<uint8_t> Lengths;
  THuffmanResult Result;
};

TEST(THuffmanTableTest, BuildResults) {
  const std::vector<TTableRow> rows = {
      {"complete", {1, 2, 3, 3}, THuffmanResult::Complete},
      {"incomplete", {1, 2, 3}, THuffmanResult::Incomplete},
      {"single code", {0, 1}, THuffmanResult::Incomplete},
      {"no codes", {0, 0, 0}, THuffmanResult::Incomplete},
      {"over-subscribed", {1, 1, 1}, THuffmanResult::Oversubscribed},
      {"length above 16", {1, 17}, THuffmanResult::Oversubscribed},
  };
  for (const TTableRow& row : rows) {
    THuffmanTable table;
    EXPECT_EQ(table.Build(row.Lengths.data(), static_cast<int>(row.Lengths.size()), 256, nullptr, nullptr, 0, 9, 32),
              row.Result)
        << row.Name;
  }
}

// A 16-bit code lies in a sub-table behind the root entry that holds its first lookup bits.
TEST(THuffmanTableTest, LongCodesGoThroughASubTable) {
  std::vector<uint8_t> lengths(17);
  for (int i = 0; i < 16; ++i) lengths[i] = static_cast<uint8_t>(i + 1);
  lengths[16] = 16;  // codes 0, 10, 110, ..., 1111111111111110, 1111111111111111
  THuffmanTable table;
  ASSERT_EQ(table.Build(lengths.data(), 17, 17, nullptr, nullptr, 0, 9, 16), THuffmanResult::Complete);
  const THuffmanEntry& root = table[0x1FF];  // nine one bits
  EXPECT_EQ(root.Operation, 16 + 7);
  EXPECT_EQ(root.Bits, 9);
  const THuffmanEntry& last = table[root.Value + 0x7F];
  EXPECT_EQ(last.Operation, 16);
  EXPECT_EQ(last.Value, 16u);
  EXPECT_EQ(last.Bits, 7);
  EXPECT_EQ(table[0].Value, 0u);
  EXPECT_EQ(table[0].Bits, 1);
}

}  // namespace
