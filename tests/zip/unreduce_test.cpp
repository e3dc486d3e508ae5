#include "zip/unreduce.h"

#include <gtest/gtest.h>

#include "decoder_memory_context.h"
#include "legacy_zip_member.h"
#include "lsb_bit_writer.h"
#include "zip/decoders.h"
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
    Unreduce(memory.Member, memory.Context);
    EXPECT_TRUE(memory.Errors.empty()) << member.Name;
    EXPECT_EQ(static_cast<int64_t>(memory.Output.size()), member.UncompressedSize) << member.Name;
    EXPECT_EQ(memory.OutputCrc(), member.Crc) << member.Name;
  }
}

INSTANTIATE_TEST_SUITE_P(Legacy, UnreduceFixtureTest, testing::Values("reduce-factor4.zip"));

}  // namespace
