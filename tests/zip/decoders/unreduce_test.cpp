#include "zip/decoders/unreduce.h"

#include <gtest/gtest.h>

#include "decoder_memory_context.h"
#include "zip/legacy_zip_member.h"
#include "lsb_bit_writer.h"
#include "zip/decoders/decoders.h"
#include "zip/messages.h"

namespace {

class UnreduceFixtureTest : public testing::TestWithParam<const char*> {};

TEST_P(UnreduceFixtureTest, ReproducesStoredSizeAndCrc) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip(std::string("legacy/") + GetParam());
  ASSERT_FALSE(members.empty());
  for (const TLegacyZipMember& member : members) {
    ASSERT_GE(member.Method, 2) << member.Name;
    ASSERT_LE(member.Method, 5) << member.Name;
    TDecoderMemoryContext memory(member.Compressed, member.UncompressedSize, member.Method);
    memory.RunFatal(Unreduce);
    EXPECT_TRUE(memory.Errors.empty()) << member.Name;
    EXPECT_EQ(static_cast<int64_t>(memory.Output.size()), member.UncompressedSize) << member.Name;
    EXPECT_EQ(memory.OutputCrc(), member.Crc) << member.Name;
  }
}

INSTANTIATE_TEST_SUITE_P(Legacy, UnreduceFixtureTest, testing::Values("reduce-factor4.zip", "reduced-vectors.zip"));

// A reduced stream whose follower sets are all empty except the given one (set, bytes), so that every
// following byte is an 8-bit literal unless the test writes the follower codes itself.
TLsbBitWriter EmptySets(int set = -1, const std::vector<uint8_t>& followers = {}) {
  TLsbBitWriter bits;
  for (int i = 255; i >= 0; --i) {
    if (i != set) {
      bits.Put(0, 6);
      continue;
    }
    bits.Put(static_cast<uint32_t>(followers.size()), 6);
    for (uint8_t byte : followers) bits.Put(byte, 8);
  }
  return bits;
}

std::vector<uint8_t> Literals(const std::vector<uint8_t>& bytes) {
  TLsbBitWriter bits = EmptySets();
  for (uint8_t byte : bytes) bits.Put(byte, 8);
  return bits.Bytes();
}

std::vector<uint8_t> Unreduced(const std::vector<uint8_t>& input, int64_t size, int method) {
  TDecoderMemoryContext memory(input, size, static_cast<uint16_t>(method));
  memory.RunFatal(Unreduce);
  EXPECT_TRUE(memory.Errors.empty());
  return memory.Output;
}

TEST(UnreduceTest, MarkerFollowedByZeroIsOneMarkerByte) {
  EXPECT_EQ(Unreduced(Literals({'a', 144, 0, 'b'}), 3, 2), (std::vector<uint8_t>{'a', 144, 'b'}));
}

TEST(UnreduceTest, CopyBeforeTheFirstByteYieldsZeros) {
  // Factor 1: V = 5 is length 5 + 3, D = 9 is distance 10: all eight bytes lie before the first output.
  std::vector<uint8_t> expected = {'x'};
  expected.resize(9, 0);
  expected.push_back('y');
  EXPECT_EQ(Unreduced(Literals({'x', 144, 5, 9, 'y'}), 10, 2), expected);
}

struct TCopyRow {
  int Factor;
  std::vector<uint8_t> Code;  // the bytes after the marker
  int Length;
  int Distance;
};

// Per factor the low bits of V are the length (mask 127, 63, 31, 15; the full mask takes one more byte)
// and its high bits the distance's high byte.
TEST(UnreduceTest, ExpanderLengthsAndDistancesPerFactor) {
  const std::vector<TCopyRow> rows = {
      {1, {0x85, 0x10}, 5 + 3, 0x110 + 1},          {1, {0x7F, 200, 0x02}, 127 + 200 + 3, 3},
      {2, {0xC3, 0xFF}, 3 + 3, 0x3FF + 1},          {2, {0x3F, 255, 0}, 63 + 255 + 3, 1},
      {3, {0xE1, 0x20}, 1 + 3, 0x720 + 1},          {3, {0x1F, 7, 9}, 31 + 7 + 3, 10},
      {4, {0xF2, 0xFF}, 2 + 3, 0xFFF + 1},          {4, {0x5F, 0, 0x34}, 15 + 3, 0x534 + 1},
  };
  for (const TCopyRow& row : rows) {
    std::vector<uint8_t> history(5000);
    for (size_t i = 0; i < history.size(); ++i) history[i] = static_cast<uint8_t>(i % 251 == 144 ? 7 : i % 251);
    std::vector<uint8_t> bytes = history;
    bytes.push_back(144);
    bytes.insert(bytes.end(), row.Code.begin(), row.Code.end());
    std::vector<uint8_t> expected = history;
    for (int i = 0; i < row.Length; ++i) expected.push_back(expected[expected.size() - static_cast<size_t>(row.Distance)]);
    EXPECT_EQ(Unreduced(Literals(bytes), static_cast<int64_t>(expected.size()), row.Factor + 1), expected)
        << "factor " << row.Factor;
  }
}

TEST(UnreduceTest, FollowerSetsCodeTheNextByte) {
  // Set 0 (the byte before the first) holds p, q, r: flag 0 and a 2-bit index pick one; after r (an empty
  // set) a plain 8-bit literal follows; after it flag 1 chooses a literal although set 0 is not empty.
  TLsbBitWriter bits = EmptySets(0, {'p', 'q', 'r'});
  bits.Put(0, 1).Put(2, 2);  // r
  bits.Put(0, 8);            // 0
  bits.Put(1, 1).Put('z', 8);
  EXPECT_EQ(Unreduced(bits.Bytes(), 3, 5), (std::vector<uint8_t>{'r', 0, 'z'}));
}

// Eight 2-bit follower codes fill two bytes: the four codes in the last byte are decoded too, although
// every compressed byte has been loaded once the first of them is read.
TEST(UnreduceTest, CodesInsideTheLastByteAreDecoded) {
  TLsbBitWriter bits;
  for (int set = 255; set >= 0; --set) {
    const bool used = set == 0 || set == 'p' || set == 'q';
    bits.Put(used ? 2 : 0, 6);
    if (used) bits.Put('p', 8).Put('q', 8);
  }
  const std::vector<uint8_t> sets = bits.Bytes();
  TLsbBitWriter codes;
  for (int i = 0; i < 8; ++i) codes.Put(0, 1).Put(i % 2, 1);
  // The follower sets end on a byte boundary (3 sets of 22 bits + 253 of 6 bits = 1584 bits).
  std::vector<uint8_t> input = sets;
  input.insert(input.end(), codes.Bytes().begin(), codes.Bytes().end());
  EXPECT_EQ(Unreduced(input, 8, 3), (std::vector<uint8_t>{'p', 'q', 'p', 'q', 'p', 'q', 'p', 'q'}));
}

TEST(UnreduceTest, FollowerCountAbove32IsRejected) {
  TLsbBitWriter bits = EmptySets(200, std::vector<uint8_t>(33, 'a'));
  bits.Put('a', 8);
  TDecoderMemoryContext memory(bits.Bytes(), 10, 5);
  EXPECT_THROW(memory.RunFatal(Unreduce), E_RAISE);
  EXPECT_EQ(memory.Errors, std::vector<int>{zipmsg::kBadBlock});
  EXPECT_TRUE(memory.Output.empty());
}

TEST(UnreduceTest, StopsAtTheDeclaredSizeInsideACopy) {
  EXPECT_EQ(Unreduced(Literals({'a', 144, 0x05, 0}), 6, 5), std::vector<uint8_t>(6, 'a'));
}

TEST(UnreduceTest, TruncatedOrGarbageInputNeverOverruns) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip("legacy/reduce-factor4.zip");
  const TLegacyZipMember& member = members[0];
  for (size_t cut = 0; cut < member.Compressed.size(); cut += 5) {
    std::vector<uint8_t> input(member.Compressed.begin(), member.Compressed.begin() + static_cast<long>(cut));
    for (size_t i = 0; i < input.size(); i += 3) input[i] = static_cast<uint8_t>(input[i] * 37 + cut);
    TDecoderMemoryContext memory(input, member.UncompressedSize, 5);
    try {
      memory.RunFatal(Unreduce);
    } catch (const E_RAISE&) {
    }
    EXPECT_LE(static_cast<int64_t>(memory.Output.size()), member.UncompressedSize);
  }
}

TEST(UnreduceTest, ShortWriteIsAFatalError) {
  TDecoderMemoryContext memory(Literals({'a', 'b'}), 2, 3);
  memory.WriteLimit = 1;
  EXPECT_THROW(memory.RunFatal(Unreduce), E_RAISE);
  EXPECT_EQ(memory.Errors, std::vector<int>{zipmsg::kErrorWritingToFile});
}

}  // namespace
