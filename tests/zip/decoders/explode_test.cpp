#include "zip/decoders/explode.h"

#include <random>

#include <gtest/gtest.h>

#include "decoder_memory_context.h"
#include "zip/legacy_zip_member.h"
#include "lsb_bit_writer.h"
#include "zip/decoders/decoders.h"

namespace {

struct TArchiveRow {
  const char* File;
  int Flags;  // the variant bits (2: 8 KiB, 4: three trees) every member must carry; -1 for mixed archives
};

class ExplodeFixtureTest : public testing::TestWithParam<TArchiveRow> {};

TEST_P(ExplodeFixtureTest, ReproducesStoredSizeAndCrc) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip(std::string("legacy/") + GetParam().File);
  ASSERT_FALSE(members.empty());
  for (const TLegacyZipMember& member : members) {
    ASSERT_EQ(member.Method, 6) << member.Name;
    if (GetParam().Flags >= 0) {
      EXPECT_EQ(member.Flags & 6, GetParam().Flags) << member.Name;
    }
    for (int64_t piece : {0, 1}) {
      TDecoderMemoryContext memory(member.Compressed, member.UncompressedSize, 6, member.Flags);
      memory.ReadPiece = piece;
      EXPECT_EQ(Explode(memory.Member, memory.Context), TDecodeStatus::Ok) << member.Name;
      EXPECT_EQ(static_cast<int64_t>(memory.Output.size()), member.UncompressedSize) << member.Name;
      EXPECT_EQ(memory.OutputCrc(), member.Crc) << member.Name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Legacy, ExplodeFixtureTest,
                         testing::Values(TArchiveRow{"implode-4k-2trees.zip", 0}, TArchiveRow{"implode-8k-3trees.zip", 6},
                                         TArchiveRow{"implode-single.zip", 6}, TArchiveRow{"imploded-vectors.zip", -1}));

// The distance table's first level is 8 bits wide above 200000 compressed bytes; the codes decode the same.
TEST(ExplodeTest, WiderDistanceLookupDecodesTheSame) {
  for (const TLegacyZipMember& member : ReadLegacyZip("legacy/imploded-vectors.zip")) {
    TDecoderMemoryContext memory(member.Compressed, member.UncompressedSize, 6, member.Flags);
    memory.Member.CompressedSize = 200001;  // the input still ends at its real size
    EXPECT_EQ(Explode(memory.Member, memory.Context), TDecodeStatus::Ok) << member.Name;
    EXPECT_EQ(memory.OutputCrc(), member.Crc) << member.Name;
  }
}

// Tree descriptions: one byte (runs - 1), then per run (codes - 1) << 4 | (bit length - 1).
void PutTree(TLsbBitWriter& bits, const std::vector<uint8_t>& runs) {
  bits.Put(static_cast<uint32_t>(runs.size() - 1), 8);
  for (uint8_t run : runs) bits.Put(run, 8);
}
// 64 codes of 6 bits: symbol s has the code s; stored inverted.
const std::vector<uint8_t> kFlatTree = {0xF5, 0xF5, 0xF5, 0xF5};
void PutFlatCode(TLsbBitWriter& bits, uint32_t symbol) { bits.PutCode(~symbol & 63, 6); }

// Two trees, 4 KiB window: a literal then a match of distance 1 with the longest length code.
TLsbBitWriter TwoTreeStream() {
  TLsbBitWriter bits;
  PutTree(bits, kFlatTree);
  PutTree(bits, kFlatTree);
  bits.Put(1, 1).Put('A', 8);
  bits.Put(0, 1).Put(0, 6);  // low distance bits 0
  PutFlatCode(bits, 0);      // distance code 0: 1 + 0
  PutFlatCode(bits, 63);     // length 2 + 63, plus 8 bits
  bits.Put(255, 8);
  return bits;
}

TEST(ExplodeTest, LongestLengthCodeAddsEightBits) {
  TDecoderMemoryContext memory(TwoTreeStream().Bytes(), 1 + 2 + 63 + 255, 6, 0);
  EXPECT_EQ(Explode(memory.Member, memory.Context), TDecodeStatus::Ok);
  EXPECT_EQ(memory.Output, std::vector<uint8_t>(321, 'A'));
}

TEST(ExplodeTest, CopyIsCutAtTheDeclaredSize) {
  TDecoderMemoryContext memory(TwoTreeStream().Bytes(), 100, 6, 0);
  EXPECT_EQ(Explode(memory.Member, memory.Context), TDecodeStatus::Ok);
  EXPECT_EQ(memory.Output, std::vector<uint8_t>(100, 'A'));
}

TEST(ExplodeTest, CopyBeforeTheFirstByteYieldsZeros) {
  TLsbBitWriter bits;  // three trees, 8 KiB: a match 8192 back as the first item, then literal 'B'
  PutTree(bits, {0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7, 0xF7});
  PutTree(bits, kFlatTree);
  PutTree(bits, kFlatTree);
  bits.Put(0, 1).Put(127, 7);
  PutFlatCode(bits, 63);  // distance 1 + 128 * 63 + 127 = 8192
  PutFlatCode(bits, 2);   // length 3 + 2
  bits.Put(1, 1).PutCode(~static_cast<uint32_t>('B') & 255, 8);
  TDecoderMemoryContext memory(bits.Bytes(), 6, 6, 6);
  EXPECT_EQ(Explode(memory.Member, memory.Context), TDecodeStatus::Ok);
  EXPECT_EQ(memory.Output, (std::vector<uint8_t>{0, 0, 0, 0, 0, 'B'}));
}

struct TBadTree {
  const char* Name;
  std::vector<uint8_t> Runs;  // the length tree (two trees)
};

TEST(ExplodeTest, BadTreesDecodeNothing) {
  const std::vector<TBadTree> rows = {
      {"runs past 64 codes", {0xF5, 0xF5, 0xF5, 0xF5, 0x05}},
      {"fewer than 64 codes", {0xF5, 0xF5, 0xF5}},
      {"incomplete", {0xF6, 0xF6, 0xF6, 0xF6}},
      {"over-subscribed", {0xF4, 0xF4, 0xF4, 0xF4}},
  };
  for (const TBadTree& row : rows) {
    TLsbBitWriter bits;
    PutTree(bits, row.Runs);
    PutTree(bits, kFlatTree);
    bits.Put(0xFFFF, 16);
    TDecoderMemoryContext memory(bits.Bytes(), 10, 6, 0);
    EXPECT_EQ(Explode(memory.Member, memory.Context), TDecodeStatus::InvalidData) << row.Name;
    EXPECT_TRUE(memory.Writes.empty()) << row.Name;
  }
}

TEST(ExplodeTest, StatusesOfTruncationCancelAndShortWrite) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip("legacy/implode-8k-3trees.zip");
  const TLegacyZipMember& member = members[0];
  std::vector<uint8_t> half(member.Compressed.begin(), member.Compressed.begin() + static_cast<long>(member.Compressed.size() / 2));
  TDecoderMemoryContext truncated(half, member.UncompressedSize, 6, member.Flags);
  EXPECT_EQ(Explode(truncated.Member, truncated.Context), TDecodeStatus::InputEnded);

  TDecoderMemoryContext cancelled(member.Compressed, member.UncompressedSize, 6, member.Flags);
  cancelled.Cancel = true;
  EXPECT_EQ(Explode(cancelled.Member, cancelled.Context), TDecodeStatus::Cancelled);

  TDecoderMemoryContext full(member.Compressed, member.UncompressedSize, 6, member.Flags);
  full.WriteLimit = 0;
  EXPECT_EQ(Explode(full.Member, full.Context), TDecodeStatus::OutputShort);
}

TEST(ExplodeTest, GarbageNeverOverruns) {
  std::mt19937 random(99);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> garbage(1 + random() % 2000);
    for (auto& byte : garbage) byte = static_cast<uint8_t>(random());
    TDecoderMemoryContext memory(garbage, 50000, 6, static_cast<uint16_t>(random() & 6));
    Explode(memory.Member, memory.Context);
    EXPECT_LE(memory.Output.size(), 50000u);
  }
}

TEST(ExplodeTest, DistanceLookupBitsFollowTheCompressedSize) {
  EXPECT_EQ(TExploder::DistanceLookupBits(200000), 7);
  EXPECT_EQ(TExploder::DistanceLookupBits(200001), 8);
}

}  // namespace
