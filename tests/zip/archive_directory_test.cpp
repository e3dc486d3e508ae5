// Recognition and directory reading: end-record window, prefixed archives, archive types, ZIP64 and
// high-word extra fields, enciphered headers, long names, and damaged archives.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "unzip_test_run.h"
#include "zip/messages.h"
#include "zip/zip_records.h"
#include "support/zip_builder.h"

namespace {

namespace fs = std::filesystem;
using ziptest::BuildZip;
using ziptest::Member;
using ziptest::TempDir;

std::vector<Member> SmallSet() {
  Member a;
  a.Name = "dir/a.txt";
  a.Data = "alpha alpha alpha";
  Member b;
  b.Name = "b.bin";
  b.Data = std::string(40000, 'b');
  b.Method = 0;
  Member c;
  c.Name = "readme";
  c.Data = "";
  return {a, b, c};
}

std::string Le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::map<std::string, std::string> SmallSetFiles() {
  return {{"dir/a.txt", "alpha alpha alpha"}, {"b.bin", std::string(40000, 'b')}, {"readme", ""}};
}

TEST(ArchiveDirectoryTest, EndRecordWindowAndTheLocalWalk) {
  struct Case {
    size_t CommentSize;
    bool CentralFound;
  };
  // The window is the last 32768 bytes; a 22-byte end record fits with up to 32745 bytes of comment.
  for (const Case c : {Case{0, true}, Case{32745, true}, Case{32746, false}, Case{65535, false}}) {
    SCOPED_TRACE(c.CommentSize);
    TempDir temp;
    ziptest::ArchiveOptions options;
    options.Comment = std::string(c.CommentSize, 'c');
    const std::string archive = temp.Write("a.zip", BuildZip(SmallSet(), options));
    TUnZip unzip;
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
    EXPECT_EQ(unzip.HeaderState().Contains(THeaderType::htCentral), c.CentralFound);
    EXPECT_EQ(unzip.HeaderState() == THeaderTypeState::Of(THeaderType::htLocal), !c.CentralFound);
    EXPECT_EQ(run.Count, 3);
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), SmallSetFiles());
  }
}

TEST(ArchiveDirectoryTest, StreamedMemberWithoutCentralDirectoryIsNotTakenAsEmpty) {
  TempDir temp;
  std::vector<Member> members = SmallSet();
  members[0].DataDescriptor = true;
  ziptest::ArchiveOptions options;
  options.Comment = std::string(40000, 'c');  // the end record is out of reach: local walk
  const std::string archive = temp.Write("a.zip", BuildZip(members, options));
  TUnZip unzip;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
  EXPECT_EQ(run.Count, 0);
  EXPECT_EQ(run.CountOf(zipmsg::kFileFailsCrcCheck), 1);
  EXPECT_FALSE(fs::exists(temp.Path() / "out" / "dir" / "a.txt"));
}

TEST(ArchiveDirectoryTest, SelfExtractorStubsAndUnadjustedOffsets) {
  for (const size_t stub : {size_t{7612}, size_t{25661}}) {
    SCOPED_TRACE(stub);
    TempDir temp;
    ziptest::ArchiveOptions options;
    options.Prefix = "MZ" + std::string(stub - 2, '\x90');
    const std::string archive = temp.Write("setup.exe", BuildZip(SmallSet(), options));
    TUnZip unzip;
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
    EXPECT_EQ(unzip.ArcType(), TArcType::atZipExe);
    EXPECT_EQ(run.Count, 3);
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), SmallSetFiles());
  }
  // Another stub size is not a self-extractor of ours.
  TempDir temp;
  ziptest::ArchiveOptions options;
  options.Prefix = "MZ" + std::string(5000, '\x90');
  TUnZip unzip;
  unzip.SetArchiveFile(temp.Write("other.exe", BuildZip(SmallSet(), options)));
  EXPECT_EQ(unzip.ArcType(), TArcType::atNA);
}

TEST(ArchiveDirectoryTest, PlainPrefixIsFoundByTheForwardSearch) {
  TempDir temp;
  ziptest::ArchiveOptions options;
  options.Prefix = std::string(1000, '\0');  // skipped by recognition, not counted in the offsets
  const std::string archive = temp.Write("a.zip", BuildZip(SmallSet(), options));
  TUnZip unzip;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
  EXPECT_EQ(run.Count, 3);
  EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), SmallSetFiles());
}

TEST(ArchiveDirectoryTest, ArchiveTypes) {
  TempDir temp;
  const std::string zip = BuildZip(SmallSet());
  struct Case {
    const char* Name;
    std::string Bytes;
    TArcType Expected;
  };
  const std::string endOnly = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  const Case cases[] = {
      {"plain.zip", zip, TArcType::atZip},
      {"upper.JAR", zip, TArcType::atJar},
      {"lower.jar", zip, TArcType::atJar},
      {"zeros.zip", std::string(100, '\0') + zip, TArcType::atZip},
      {"spanned.zip", "PK\x07\x08" + zip, TArcType::atZipDS},
      {"endonly.zip", endOnly, TArcType::atZip},
      {"tiny.zip", "PK\x03\x04", TArcType::atNA},
      {"text.zip", std::string(100, 't'), TArcType::atNA},
  };
  for (const Case& c : cases) {
    TUnZip unzip;
    unzip.SetArchiveFile(temp.Write(c.Name, c.Bytes));
    EXPECT_EQ(unzip.ArcType(), c.Expected) << c.Name;
  }
  // The lone end record lies outside the window (which starts at the second byte): nothing is listed.
  TUnZip unzip;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, temp.Write("endonly2.zip", endOnly), temp.Text());
  EXPECT_EQ(run.Count, 0);
  EXPECT_TRUE(run.Errors.empty());
}

TEST(ArchiveDirectoryTest, EndRecordVariantWith64BitOffset) {
  // The 26-byte form (second byte 0x5B): the central directory offset is 8 bytes wide at byte 16.
  std::string archive = BuildZip(SmallSet());
  const size_t end = archive.size() - 22;
  const std::string centralSize = archive.substr(end + 12, 4);
  const uint64_t centralOffset = static_cast<uint8_t>(archive[end + 16]) | (static_cast<uint8_t>(archive[end + 17]) << 8) |
                                 (static_cast<uint8_t>(archive[end + 18]) << 16);
  archive.resize(end);
  archive += std::string("P\x5B\x05\x06", 4) + std::string(8, '\0');
  archive += centralSize + Le(centralOffset, 8) + Le(0, 2);
  TempDir temp;
  TUnZip unzip;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, temp.Write("a.zip", archive), (temp.Path() / "out").string());
  EXPECT_TRUE(unzip.HeaderState().Contains(THeaderType::htCentral));
  EXPECT_EQ(unzip.CommentPosition(), static_cast<int64_t>(archive.size()));
  EXPECT_EQ(run.Count, 3);
  EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), SmallSetFiles());
}

TEST(ArchiveDirectoryTest, Zip64EndRecordsAreFound) {
  TUnZip unzip;
  unzip.SetArchiveFile(std::string(UPDATER_FIXTURES_DIR) + "/zip/zip64.zip");
  EXPECT_EQ(unzip.ArcType(), TArcType::atZip);
  EXPECT_TRUE(unzip.HeaderState().Contains(THeaderType::htLocator));
  EXPECT_TRUE(unzip.HeaderState().Contains(THeaderType::htEnding64));
  EXPECT_TRUE(unzip.HeaderState().Contains(THeaderType::htCentral));
  EXPECT_TRUE(unzip.HeaderState().Contains(THeaderType::htLocal));
}

TEST(ArchiveDirectoryTest, JarMembersGetPlainAttributes) {
  TempDir temp;
  std::vector<Member> members = SmallSet();
  members[0].ExternalAttributes = 0x01;  // read-only: ignored in a JAR
  const std::string archive = temp.Write("lib.jar", BuildZip(members));
  TUnZip unzip;
  EXPECT_EQ(ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string()).Count, 3);
  uint32_t attributes = 0;
  ASSERT_TRUE(platform::GetAttributes((temp.Path() / "out" / "dir" / "a.txt").string(), attributes));
  EXPECT_EQ(attributes & platform::kAttrReadOnly, 0u);
}

TEST(ArchiveDirectoryTest, EncipheredHeaderRecords) {
  TempDir temp;
  ziptest::ArchiveOptions options;
  options.EncipheredHeaders = true;
  const std::string archive = temp.Write("a.zip", BuildZip(SmallSet(), options));
  TUnZip unzip;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
  EXPECT_TRUE(unzip.HeaderState().Contains(THeaderType::htCentral));
  EXPECT_EQ(run.Count, 3);
  EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), SmallSetFiles());
}

TEST(ArchiveDirectoryTest, LongNamesAreCutTo255Bytes) {
  TempDir temp;
  Member m;
  m.Name = std::string(300, 'n');
  m.Data = "long";
  m.CentralExtra = std::string("\x99\x99\x04\x00wxyz", 8);  // an unknown block after the whole name
  const std::string archive = temp.Write("a.zip", BuildZip({m}));
  TUnZip unzip;
  EXPECT_EQ(ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string()).Count, 1);
  EXPECT_EQ(ziptest::ReadFile(temp.Path() / "out" / std::string(255, 'n')), "long");
}


TEST(ZipRecordsTest, Zip64AndHighWordExtraFields) {
  struct Case {
    const char* What;
    uint32_t CompressedField;
    std::string Extra;
    int64_t ExpectedCompressed;
    int64_t ExpectedOffset;
  };
  const Case cases[] = {
      {"ZIP64 value over 4 GiB", 0xFFFFFFFF, Le(1, 2) + Le(8, 2) + Le((1ull << 32) + 16, 8), (1ll << 32) + 16, 7},
      {"top 16 bits dropped", 0xFFFFFFFF, Le(1, 2) + Le(8, 2) + Le((1ull << 48) + 5, 8), 5, 7},
      {"field not overflowed: block ignored", 100, Le(1, 2) + Le(8, 2) + Le(999, 8), 100, 7},
      {"high words", 100, Le(0x64, 2) + Le(6, 2) + Le(2, 2) + Le(0, 2) + Le(1, 2), (2ll << 32) + 100, (1ll << 32) + 7},
      {"block past the field's end", 0xFFFFFFFF, Le(1, 2) + Le(16, 2) + Le(5, 8), 0xFFFFFFFF, 7},
      {"unknown block skipped", 100, Le(0x5455, 2) + Le(1, 2) + "x" + Le(0x64, 2) + Le(6, 2) + Le(3, 2) + Le(0, 2) + Le(0, 2),
       (3ll << 32) + 100, 7},
  };
  for (const Case& c : cases) {
    ziprec::TCentralRecord record;
    record.CompressedSize.Low = c.CompressedField;
    record.UncompressedSize.Low = 50;
    record.LocalHeaderOffset.Low = 7;
    ziprec::ApplyCentralExtra(record, reinterpret_cast<const uint8_t*>(c.Extra.data()),
                              static_cast<int64_t>(c.Extra.size()));
    EXPECT_EQ(record.CompressedSize.Value(), c.ExpectedCompressed) << c.What;
    EXPECT_EQ(record.LocalHeaderOffset.Value(), c.ExpectedOffset) << c.What;
    EXPECT_EQ(record.UncompressedSize.Value(), 50) << c.What;
  }
  // The ZIP64 values present are those of the overflowed fields, in order: uncompressed, compressed.
  ziprec::TLocalHeader local;
  local.UncompressedSize.Low = 0xFFFFFFFF;
  local.CompressedSize.Low = 0xFFFFFFFF;
  const std::string extra = Le(1, 2) + Le(16, 2) + Le(0x100000001ull, 8) + Le(0x200000002ull, 8);
  ziprec::ApplyLocalExtra(local, reinterpret_cast<const uint8_t*>(extra.data()), static_cast<int64_t>(extra.size()));
  EXPECT_EQ(local.UncompressedSize.Value(), 0x100000001ll);
  EXPECT_EQ(local.CompressedSize.Value(), 0x200000002ll);
}

// Damage anywhere must never crash the extractor nor leave a file whose content no member had.
TEST(ArchiveDirectoryTest, TruncatedAndBitFlippedArchives) {
  std::vector<Member> members = SmallSet();
  members[1].Data = std::string(700, 'b');
  members.push_back(members[0]);
  members.back().Name = "deflated";
  members.back().Data = std::string(3000, 'd') + "end";
  const std::string archive = BuildZip(members);
  std::set<std::string> contents;
  for (const Member& m : members) contents.insert(m.Data);
  TempDir temp;
  const auto check = [&](const std::string& bytes, const std::string& what) {
    const fs::path out = temp.Path() / "out";
    ziptest::RemoveTree(out);
    const std::string path = temp.Write("damaged.zip", bytes);
    TUnZip unzip;
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, path, out.string());
    if (!fs::exists(out)) return;
    int files = 0;
    for (const auto& [name, data] : ziptest::FilesBelow(out)) {
      ++files;
      EXPECT_EQ(contents.count(data), 1u) << what << ": " << name;
    }
    EXPECT_LE(run.Count, files) << what;
  };
  for (size_t cut = 0; cut < archive.size(); cut += 97) check(archive.substr(0, cut), "cut at " + std::to_string(cut));
  for (size_t at = 0; at < archive.size(); at += 13) {
    for (const uint8_t mask : {0x01, 0x80}) {
      std::string flipped = archive;
      flipped[at] = static_cast<char>(flipped[at] ^ mask);
      check(flipped, "flip at " + std::to_string(at));
    }
  }
}

}  // namespace
