#include "zip/decoders/unshrink.h"

#include <random>

#include <gtest/gtest.h>

#include "decoder_memory_context.h"
#include "zip/legacy_zip_member.h"
#include "lsb_bit_writer.h"
#include "zip/decoders/decoders.h"
#include "zip/messages.h"

namespace {

class UnshrinkFixtureTest : public testing::TestWithParam<const char*> {};

TEST_P(UnshrinkFixtureTest, ReproducesStoredSizeAndCrc) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip(std::string("legacy/") + GetParam());
  ASSERT_FALSE(members.empty());
  for (const TLegacyZipMember& member : members) {
    ASSERT_EQ(member.Method, 1) << member.Name;
    for (int64_t piece : {0, 1}) {
      TDecoderMemoryContext memory(member.Compressed, member.UncompressedSize, 1);
      memory.ReadPiece = piece;
      memory.RunFatal(Unshrink);
      EXPECT_TRUE(memory.Errors.empty()) << member.Name;
      EXPECT_EQ(static_cast<int64_t>(memory.Output.size()), member.UncompressedSize) << member.Name;
      EXPECT_EQ(memory.OutputCrc(), member.Crc) << member.Name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Legacy, UnshrinkFixtureTest, testing::Values("shrink-single.zip", "shrunk-two-members.zip",
                                                                "shrunk-vectors.zip"));

// A stream of codes; each element is {code, width}.
std::vector<uint8_t> Codes(const std::vector<std::pair<uint32_t, int>>& codes) {
  TLsbBitWriter bits;
  for (const auto& [code, width] : codes) bits.Put(code, width);
  return bits.Bytes();
}

std::vector<uint8_t> Text(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

struct TShrinkRow {
  const char* Name;
  std::vector<std::pair<uint32_t, int>> Codes;
  std::string Output;
  std::vector<int> Errors;
};

std::vector<TShrinkRow> ShrinkRows() {
  return {
      // 257 is not yet defined when it arrives: it stands for the previous string plus its own first byte.
      {"KwKwK", {{'a', 9}, {257, 9}, {258, 9}}, "aaaaaa", {}},
      // After the partial clear, 257 ("ab", a prefix of 259) survives and the freed 258 is handed out
      // before any higher code: "cd" becomes 258.
      {"partial clear reuses the lowest freed code",
       {{'a', 9}, {'b', 9}, {257, 9}, {'c', 9}, {256, 9}, {2, 9}, {'d', 9}, {258, 9}, {257, 9}},
       "ababcdcdab",
       {}},
      {"wider codes after sub-code 1", {{'x', 9}, {256, 9}, {1, 9}, {'y', 10}, {257, 10}}, "xyxy", {}},
      {"empty input", {}, "", {zipmsg::kBadBlock}},
      {"first code not a literal", {{300, 9}}, "", {zipmsg::kBadBlock}},
      {"sub-code 3", {{'a', 9}, {256, 9}, {3, 9}}, "a", {zipmsg::kBadBlock}},
      {"code past 8191",
       {{'a', 9}, {256, 9}, {1, 9}, {256, 10}, {1, 10}, {256, 11}, {1, 11}, {256, 12}, {1, 12}, {256, 13}, {1, 13},
        {9000, 14}},
       "a",
       {zipmsg::kBadBlock}},
      {"width past 16",
       {{'a', 9}, {256, 9}, {1, 9}, {256, 10}, {1, 10}, {256, 11}, {1, 11}, {256, 12}, {1, 12}, {256, 13}, {1, 13},
        {256, 14}, {1, 14}, {256, 15}, {1, 15}, {256, 16}, {1, 16}},
       "a",
       {zipmsg::kBadBlock}},
      // 300 is free but not the next code: decoded as KwKwK, it leaves the free 300 as the previous code,
      // so 258 gets the free 300 as its parent and the chain from 258 runs into nothing.
      {"chain into a freed code", {{'a', 9}, {300, 9}, {'b', 9}, {258, 9}}, "aaab", {zipmsg::kBadBlock}},
      // The same with 258: the previous code is the free 258, which the next string then takes, making
      // 258 its own parent. The endless string ends as a stack overflow, after what came before it.
      {"string loop", {{'a', 9}, {258, 9}, {'b', 9}, {258, 9}}, "aaab", {zipmsg::kStackOverflow}},
  };
}

TEST(UnshrinkTest, HandBuiltStreams) {
  for (const TShrinkRow& row : ShrinkRows()) {
    TDecoderMemoryContext memory(Codes(row.Codes), 100, 1);
    try {
      memory.RunFatal(Unshrink);
    } catch (const E_RAISE& error) {
      EXPECT_EQ(error.Id(), memory.Errors.empty() ? 0 : memory.Errors.back()) << row.Name;
    }
    EXPECT_EQ(memory.Output, Text(row.Output)) << row.Name;
    EXPECT_EQ(memory.Errors, row.Errors) << row.Name;
  }
}

TEST(UnshrinkTest, StopsAtTheDeclaredSize) {
  TDecoderMemoryContext memory(Codes({{'a', 9}, {257, 9}, {258, 9}}), 4, 1);
  memory.RunFatal(Unshrink);
  EXPECT_EQ(memory.Output, Text("aaaa"));
  EXPECT_TRUE(memory.Errors.empty());
}

TEST(UnshrinkTest, ShortWriteIsAFatalError) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip("legacy/shrink-single.zip");
  TDecoderMemoryContext memory(members[0].Compressed, members[0].UncompressedSize, 1);
  memory.WriteLimit = 10;
  EXPECT_THROW(memory.RunFatal(Unshrink), E_RAISE);
  EXPECT_EQ(memory.Errors, std::vector<int>{zipmsg::kErrorWritingToFile});
}

// A cancelled run makes the reader report the end of the input; the error event still fires but nothing
// is raised.
TEST(UnshrinkTest, CancelEndsTheInput) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip("legacy/shrink-single.zip");
  TDecoderMemoryContext memory(members[0].Compressed, members[0].UncompressedSize, 1);
  memory.Cancel = true;
  EXPECT_NO_THROW(memory.RunFatal(Unshrink));
  EXPECT_TRUE(memory.Output.empty());
}

TEST(UnshrinkTest, GarbageEndsCleanly) {
  std::mt19937 random(4242);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> garbage(1 + random() % 4000);
    for (auto& byte : garbage) byte = static_cast<uint8_t>(random() & (round % 2 == 0 ? 0xFF : 0x03));
    TDecoderMemoryContext memory(garbage, 30000, 1);
    try {
      memory.RunFatal(Unshrink);
    } catch (const E_RAISE&) {
    }
    EXPECT_LE(memory.Output.size(), 30000u);
  }
}

TEST(UnshrinkTest, TruncatedFixtureNeverOverruns) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip("legacy/shrink-single.zip");
  for (size_t cut = 0; cut < members[0].Compressed.size(); cut += 7) {
    std::vector<uint8_t> input(members[0].Compressed.begin(), members[0].Compressed.begin() + static_cast<long>(cut));
    TDecoderMemoryContext memory(input, members[0].UncompressedSize, 1);
    try {
      memory.RunFatal(Unshrink);
    } catch (const E_RAISE&) {
    }
    EXPECT_LE(static_cast<int64_t>(memory.Output.size()), members[0].UncompressedSize);
  }
}

}  // namespace
