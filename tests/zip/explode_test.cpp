#include "zip/explode.h"

#include <random>

#include <gtest/gtest.h>

#include "decoder_memory_context.h"
#include "legacy_zip_member.h"
#include "lsb_bit_writer.h"
#include "zip/decoders.h"

namespace {

struct TArchiveRow {
  const char* File;
  uint16_t Flags;  // the variant bits (1: 8 KiB, 2: three trees) that the archive must carry
};

class ExplodeFixtureTest : public testing::TestWithParam<TArchiveRow> {};

TEST_P(ExplodeFixtureTest, ReproducesStoredSizeAndCrc) {
  const std::vector<TLegacyZipMember> members = ReadLegacyZip(std::string("legacy/") + GetParam().File);
  ASSERT_FALSE(members.empty());
  for (const TLegacyZipMember& member : members) {
    ASSERT_EQ(member.Method, 6) << member.Name;
    EXPECT_EQ(member.Flags & 6, GetParam().Flags) << member.Name;
    for (int64_t piece : {0, 1}) {
      TDecoderMemoryContext memory(member.Compressed, member.UncompressedSize, 6, member.Flags);
      memory.ReadPiece = piece;
      EXPECT_EQ(Explode(memory.Member, memory.Context), inflate_status::kOk) << member.Name;
      EXPECT_EQ(static_cast<int64_t>(memory.Output.size()), member.UncompressedSize) << member.Name;
      EXPECT_EQ(memory.OutputCrc(), member.Crc) << member.Name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Legacy, ExplodeFixtureTest,
                         testing::Values(TArchiveRow{"implode-4k-2trees.zip", 0}, TArchiveRow{"implode-8k-3trees.zip", 6},
                                         TArchiveRow{"implode-single.zip", 6}));

}  // namespace
