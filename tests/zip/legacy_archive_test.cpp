// Real archives made by old tools, extracted end to end the way the updater configures the extractor: every
// member must be written and pass its CRC check, whatever its method.
#include <gtest/gtest.h>

#include "zip/unzip.h"
#include "support/zip_builder.h"

namespace {

class LegacyArchiveTest : public testing::TestWithParam<const char*> {};

TEST_P(LegacyArchiveTest, EveryMemberExtractsAndPassesItsCrcCheck) {
  ziptest::TempDir out;
  std::vector<int> errors;
  TUnZip unzip;
  unzip.OnError = [&errors](TUnBase&, const std::string&, const std::string&, const std::string&, int code) {
    errors.push_back(code);
  };
  unzip.OverwriteMode = TOverwriteMode::omOverwrite;
  unzip.FileSpec().push_back("*.*");
  unzip.SetExtractDir(out.Text());
  unzip.SetArchiveFile(std::string(UPDATER_FIXTURES_DIR) + "/legacy/" + GetParam());
  const int written = unzip.Extract();
  EXPECT_TRUE(errors.empty()) << "first error " << (errors.empty() ? 0 : errors.front());
  EXPECT_GT(written, 0);
  EXPECT_EQ(static_cast<size_t>(written), ziptest::FilesBelow(out.Path()).size());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LegacyArchiveTest,
                         testing::Values("shrink-single.zip", "shrunk-two-members.zip", "shrunk-vectors.zip",
                                         "reduce-factor4.zip", "reduced-vectors.zip", "implode-single.zip",
                                         "implode-4k-2trees.zip", "implode-8k-3trees.zip", "imploded-vectors.zip",
                                         "deflate64-small.zip", "deflate64-long-reach.zip"));

}  // namespace
