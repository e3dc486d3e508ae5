#include "zip/write_behind.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "support/temp_dir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;

// Pieces of many sizes, far more than the writer buffers, with the n-th write of the file failing (0: none;
// the seam's first operation is the creation), or a file that cannot be created: what lands is a prefix of the input in order, and the outcome says how much,
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
  for (const Row& row : {Row{"all written", "out", 0}, Row{"first write fails", "out", 2},
                         Row{"a later write fails", "out", 5}, Row{"not created", "missing/out", 0}}) {
    SCOPED_TRACE(row.Name);
    TempDir temp;
    const bool creatable = std::string(row.File) == "out";
    platform::FailNthFileOperation(row.FailingWrite);
    writer.Begin((temp.Path() / row.File).string());
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

// What the writer thread raises, creating the file or writing it, reaches the caller's thread; Abandon drops
// what a write raises. The piece is smaller than what the writer gathers, so that the write happens within
// Finish or Abandon; the creation comes before, and what it raises reaches the first Write.
TEST(WriteBehindTest, CarriesWhatTheWriterRaisesToTheCaller) {
  TempDir temp;
  const std::string piece(1000, 'p');
  TWriteBehind writer;
  for (const int failing : {1, 2}) {
    for (const bool abandon : {false, true}) {
      SCOPED_TRACE(std::string(failing == 1 ? "creation" : "write") + (abandon ? ", abandoned" : ""));
      // Armed before Begin: the writer thread may create the file before Begin returns.
      platform::FailNthFileOperation(failing, platform::FileFault::Raise);
      writer.Begin((temp.Path() / "out").string());
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
      EXPECT_EQ(raised, failing == 1 || !abandon);
      EXPECT_TRUE(writer.Finish().Failed);
      writer.File().Close();
    }
  }
}

}  // namespace
