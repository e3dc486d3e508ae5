#include "zip/unshrink.h"

#include <gtest/gtest.h>

#include "decoder_memory_context.h"
#include "legacy_zip_member.h"
#include "lsb_bit_writer.h"
#include "zip/decoders.h"
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
      Unshrink(memory.Member, memory.Context);
      EXPECT_TRUE(memory.Errors.empty()) << member.Name;
      EXPECT_EQ(static_cast<int64_t>(memory.Output.size()), member.UncompressedSize) << member.Name;
      EXPECT_EQ(memory.OutputCrc(), member.Crc) << member.Name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Legacy, UnshrinkFixtureTest, testing::Values("shrink-single.zip", "shrunk-two-members.zip"));

}  // namespace
