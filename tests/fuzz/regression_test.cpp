// Replays every kept fuzz input through its entry function: each file of fuzz/regressions/<entry>/ once
// crashed, hung or broke an invariant, and must now run through cleanly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_entries.h"

namespace fs = std::filesystem;

namespace {

const fs::path kRegressions = UPDATER_FUZZ_REGRESSIONS_DIR;

std::vector<uint8_t> ReadInput(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<fs::path> FilesIn(const fs::path& directory) {
  std::vector<fs::path> files;
  if (!fs::is_directory(directory)) return files;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  return files;
}

}  // namespace

TEST(FuzzRegressionTest, EveryFolderNamesAnEntry) {
  ASSERT_TRUE(fs::is_directory(kRegressions));
  for (const fs::directory_entry& entry : fs::directory_iterator(kRegressions)) {
    if (entry.is_directory()) {
      EXPECT_NE(FindFuzzEntry(entry.path().filename().string()), nullptr) << entry.path();
    }
  }
}

TEST(FuzzRegressionTest, KeptInputsRunCleanly) {
  for (const TFuzzEntry& entry : FuzzEntries()) {
    for (const fs::path& file : FilesIn(kRegressions / entry.Name)) {
      SCOPED_TRACE(file.string());
      const std::vector<uint8_t> input = ReadInput(file);
      entry.Run(input.data(), input.size());
    }
  }
}

// Empty and tiny inputs reach every entry's edge cases: nothing to read, a zero declared size.
TEST(FuzzRegressionTest, EmptyAndTinyInputsRunCleanly) {
  const std::vector<std::vector<uint8_t>> inputs = {{}, {0}, {0xFF}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
  for (const TFuzzEntry& entry : FuzzEntries()) {
    SCOPED_TRACE(entry.Name);
    for (const std::vector<uint8_t>& input : inputs) entry.Run(input.data(), input.size());
  }
}
