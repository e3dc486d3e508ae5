#include "zip/write_behind.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "support/temp_dir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;

// Pieces of many sizes, far more than the writer buffers, with the n-th write of the file failing (0: none), or
// a file that cannot be created: what lands is a prefix of the input in order, and the outcome says how much,
// with its CRC and the error.
TEST(WriteBehindTest, WritesInOrderAndStopsAtTheFirstFailure) {
  struct Row {
    const char* Name;
    const char* File;
    int FailingWrite;
  };
  std::string input;
  for (int i = 0; input.size() < 3'000'000; ++i) input += std::string(static_cast<size_t>(i * 7919 % 300'001), 'a' + i % 26);
  TWriteBehind writer;
  for (const Row& row : {Row{"all written", "out", 0}, Row{"first write fails", "out", 1},
                         Row{"a later write fails", "out", 4}, Row{"not created", "missing/out", 0}}) {
    SCOPED_TRACE(row.Name);
    TempDir temp;
    const bool creatable = std::string(row.File) == "out";
    writer.Begin((temp.Path() / row.File).string());
    platform::FailNthFileOperation(row.FailingWrite);
    bool taken = true;
    for (size_t at = 0, size = 1; at < input.size() && taken; at += size, size = size * 3 % 700'001 + 1) {
      size = std::min(size, input.size() - at);
      taken = writer.Write(reinterpret_cast<const uint8_t*>(input.data() + at), static_cast<int64_t>(size));
    }
    const TWriteBehind::Outcome outcome = writer.Finish();
    platform::FailNthFileOperation(0);
    EXPECT_EQ(writer.File().IsOpen(), creatable);
    writer.File().Close();
    const bool failed = row.FailingWrite != 0 || !creatable;
    EXPECT_EQ(outcome.Failed, failed);
    EXPECT_EQ(outcome.NotCreated, !creatable);
    EXPECT_EQ(outcome.ErrorCode != 0, failed);
    if (row.FailingWrite != 0) {
      EXPECT_EQ(outcome.ErrorCode, platform::kErrorAccessDenied);
    }
    EXPECT_EQ(taken, !failed);
    const std::string landed = creatable ? ReadFile(temp.Path() / row.File) : std::string();
    EXPECT_EQ(outcome.Written, static_cast<int64_t>(landed.size()));
    EXPECT_EQ(landed, input.substr(0, failed ? landed.size() : input.size()));
    EXPECT_EQ(outcome.Crc, crc32(0, reinterpret_cast<const Bytef*>(landed.data()), static_cast<uInt>(landed.size())));
  }
}

// What a write raises reaches the caller's thread; Abandon drops it. The piece is smaller than what the writer
// gathers, so that the write happens within Finish or Abandon.
TEST(WriteBehindTest, CarriesWhatAWriteRaisesToTheCaller) {
  TempDir temp;
  const std::string piece(1000, 'p');
  TWriteBehind writer;
  for (const bool abandon : {false, true}) {
    writer.Begin((temp.Path() / "out").string());
    platform::FailNthFileOperation(1, platform::FileFault::Raise);
    bool raised = false;
    try {
      writer.Write(reinterpret_cast<const uint8_t*>(piece.data()), static_cast<int64_t>(piece.size()));
      if (abandon) {
        writer.Abandon();
      } else {
        writer.Finish();
      }
    } catch (const platform::FileOperationAborted&) {
      raised = true;
    }
    platform::FailNthFileOperation(0);
    EXPECT_EQ(raised, !abandon);
    EXPECT_TRUE(writer.Finish().Failed);
    writer.File().Close();
  }
}

}  // namespace
