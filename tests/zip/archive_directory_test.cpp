// Recognition and directory reading: end-record window, prefixed archives, archive types, ZIP64 and
// high-word extra fields, enciphered headers, long names, and damaged archives.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
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

uint32_t Get32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
  return value;
}

uint32_t Get16(const std::string& bytes, size_t at) {
  return static_cast<uint8_t>(bytes[at]) | (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8);
}

// The central records of an archive made by BuildZip (no comment), each a whole record with its name.
std::vector<std::string> CentralRecords(const std::string& zip) {
  const size_t end = zip.size() - 22;
  std::vector<std::string> records;
  for (size_t at = Get32(zip, end + 16); at < end;) {
    const size_t length = 46 + Get16(zip, at + 28) + Get16(zip, at + 30) + Get16(zip, at + 32);
    records.push_back(zip.substr(at, length));
    at += length;
  }
  return records;
}

// The archive's members with another central directory: these records, and an end record that counts
// them (or says it holds `counted` records).
std::string WithCentralDirectory(const std::string& zip, const std::vector<std::string>& records,
                                 size_t counted = SIZE_MAX) {
  const size_t end = zip.size() - 22;
  const size_t centralOffset = Get32(zip, end + 16);
  std::string directory;
  for (const std::string& record : records) directory += record;
  if (counted == SIZE_MAX) counted = records.size();
  return zip.substr(0, centralOffset) + directory + std::string("PK\x05\x06", 4) + Le(0, 4) + Le(counted, 2) +
         Le(counted, 2) + Le(directory.size(), 4) + Le(centralOffset, 4) + Le(0, 2);
}

std::string Patched(std::string record, size_t at, uint64_t value, int bytes) {
  record.replace(at, static_cast<size_t>(bytes), Le(value, bytes));
  return record;
}

TEST(ArchiveDirectoryTest, EndRecordBehindCommentsOfAnyLength) {
  // A comment that holds an end record of its own, listing nothing, ahead of the true end record's.
  const std::string inner = std::string("PK\x05\x06", 4) + std::string(18, '\0') + "tail";
  for (const std::string& comment : {std::string(), std::string(32767, 'c'), std::string(32769, 'c'),
                                     std::string(40000, 'c'), std::string(65535, 'c'), inner}) {
    SCOPED_TRACE(comment.size());
    TempDir temp;
    ziptest::ArchiveOptions options;
    options.Comment = comment;
    const std::string archive = temp.Write("a.zip", BuildZip(SmallSet(), options));
    TUnZip unzip;
    unzip.RequireCentralDirectory = true;
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
    EXPECT_TRUE(unzip.HeaderState().Contains(THeaderType::htCentral));
    EXPECT_EQ(run.Count, 3);
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), SmallSetFiles());
  }
}

TEST(ArchiveDirectoryTest, StreamedMemberWithoutCentralDirectoryIsNotTakenAsEmpty) {
  TempDir temp;
  std::vector<Member> members = SmallSet();
  members[0].DataDescriptor = true;
  const std::string whole = BuildZip(members);
  // Without its end record: local walk.
  const std::string archive = temp.Write("a.zip", whole.substr(0, whole.size() - 22));
  TUnZip unzip;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
  EXPECT_EQ(run.Count, 0);
  EXPECT_EQ(run.CountOf(zipmsg::kFileFailsCrcCheck), 1);
  EXPECT_FALSE(fs::exists(temp.Path() / "out" / "dir" / "a.txt"));
}

TEST(ArchiveDirectoryTest, SelfExtractorStubsAndUnadjustedOffsets) {
  // The offsets are corrected from the first record, also when the selection leaves it out.
  const struct {
    const char* Pattern;
    std::map<std::string, std::string> Files;
  } selections[] = {
      {"*.*", SmallSetFiles()},
      {"b.bin", {{"b.bin", std::string(40000, 'b')}}},
      {"readme", {{"readme", ""}}},
  };
  for (const size_t stub : {size_t{7612}, size_t{25661}}) {
    for (const auto& selection : selections) {
      SCOPED_TRACE(std::to_string(stub) + " " + selection.Pattern);
      TempDir temp;
      ziptest::ArchiveOptions options;
      options.Prefix = "MZ" + std::string(stub - 2, '\x90');
      const std::string archive = temp.Write("setup.exe", BuildZip(SmallSet(), options));
      TUnZip unzip;
      unzip.FileSpec().push_back(selection.Pattern);
      const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
      EXPECT_EQ(unzip.ArcType(), TArcType::atZipExe);
      EXPECT_EQ(run.Count, static_cast<int>(selection.Files.size()));
      EXPECT_TRUE(run.Errors.empty());
      EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), selection.Files);
    }
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


// Strict reading takes an archive only through its whole central directory; without it the local header
// walk reads what a damaged archive still holds, as it always has.
TEST(ArchiveDirectoryTest, StrictReadingRefusesArchivesWithoutAWholeCentralDirectory) {
  const std::string good = BuildZip(SmallSet());
  const std::vector<std::string> records = CentralRecords(good);
  const size_t centralOffset = Get32(good, good.size() - 22 + 16);
  const size_t secondMember = Get32(records[1], 42);
  // An end record at the file's first byte lies outside the search window: the empty archive has a prefix.
  ziptest::ArchiveOptions emptyArchive;
  emptyArchive.Prefix = std::string(8, '\0');
  std::vector<Member> streamedSet = SmallSet();
  streamedSet[0].DataDescriptor = true;
  const std::string streamed = BuildZip(streamedSet);
  const size_t descriptorCrc = 30 + 9 + Get32(CentralRecords(streamed)[0], 20) + 4;
  const auto one = [](const std::string& name) { return BuildZip({Member{name, "data"}}); };
  const auto centralPatched = [&](size_t at, uint64_t value, int bytes) {
    return WithCentralDirectory(good, {Patched(records[0], at, value, bytes), records[1], records[2]});
  };
  struct Case {
    const char* What;
    std::string Bytes;
    int WrittenWithoutStrict;
    const char* Fault;  // under strict reading; null: read as without it
  };
  const Case cases[] = {
      {"whole", good, 3, nullptr},
      {"an empty archive", BuildZip({}, emptyArchive), 0, nullptr},
      {"cut after the first member", good.substr(0, secondMember), 1, "no end record"},
      {"cut inside the central directory", good.substr(0, centralOffset + 60), 3, "no end record"},
      {"cut inside the end record", good.substr(0, good.size() - 1), 3, "end record or its comment cut"},
      {"a text body", "PK<html>not a zip archive, a page that says the file is gone</html>\n", 0, "no end record"},
      {"PK and zeros", "PK" + std::string(4 << 20, '\0'), 0, "no end record"},
      {"no central directory where the end record puts it",
       good.substr(0, good.size() - 10) + Le(good.size() - 22 - centralOffset - 10, 4) + good.substr(good.size() - 6), 3,
       "no central directory where the end record puts it"},
      {"fewer records than counted", WithCentralDirectory(good, {records[0], records[1]}, 3), 2,
       "central record 3 of 3 without its signature"},
      {"more records than counted", WithCentralDirectory(good, records, 2), 3,
       "more central records than the end record counts (2)"},
      {"a record cut", WithCentralDirectory(good, {records[0], records[1], records[2].substr(0, 20)}), 2,
       "central record 3 of 3 cut"},
      {"a record running past the end record",
       WithCentralDirectory(good, {records[0], records[1], Patched(records[2], 32, 40, 2)}), 3,
       "central record 3 of 3 runs past the end record"},
      {"a streamed member", streamed, 3, nullptr},
      {"a central CRC that is not the local one", centralPatched(16, Get32(records[0], 16) ^ 1, 4), 3,
       "central record 1 of 3 and its local header disagree on the CRC"},
      {"local sizes that are not the central ones", Patched(good, 22, 18, 4), 3,
       "central record 1 of 3 and its local header disagree on the sizes"},
      {"a local method that is not the central one", Patched(good, 8, 0, 2), 3,
       "central record 1 of 3 and its local header disagree on the method"},
      {"a central name that is not the local one", centralPatched(46, 'e', 1), 3,
       "central record 1 of 3 and its local header disagree on the name"},
      {"a data descriptor that is not the central record", Patched(streamed, descriptorCrc, 0, 4), 3,
       "central record 1 of 3 and its local header disagree on the CRC (data descriptor)"},
      {"a name component of 300 bytes", one("d/" + std::string(300, 'n')), 1,
       "central record 1 of 1 names a path of 302 bytes, more than 255"},
      {"data under no name", one(std::string("\0x", 2)), 0, "central record 1 of 1 holds data under no file name"},
  };
  for (const Case& c : cases) {
    for (const bool strict : {false, true}) {
      SCOPED_TRACE(std::string(c.What) + (strict ? ", strict" : ""));
      TempDir temp;
      const std::string archive = temp.Write("a.zip", c.Bytes);
      TUnZip unzip;
      unzip.RequireCentralDirectory = strict;
      const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
      const bool damaged = strict && c.Fault != nullptr;
      const int written = damaged ? 0 : c.WrittenWithoutStrict;
      EXPECT_EQ(run.Count, written);
      EXPECT_EQ(unzip.ListedCount(), written);
      ASSERT_EQ(run.CountOf(zipmsg::kIncompleteCentralDirectory), damaged ? 1 : 0);
      if (damaged) {
        EXPECT_EQ(run.Errors.size(), 1u);
        EXPECT_EQ(run.Errors[0].ExtendedMsg, c.Fault);
        EXPECT_FALSE(fs::exists(temp.Path() / "out"));
      }
    }
  }
}

// A record whose member shares bytes with a member listed before it is refused as damaged; the first
// listed keeps its bytes.
TEST(ArchiveDirectoryTest, RecordsWhoseMembersOverlapAnEarlierOneAreRefused) {
  Member big;
  big.Name = "big.bin";
  big.Data = std::string(300000, 'z');
  const std::string one = BuildZip({big});
  // A stored member whose data are a whole archive: its inner local header lies inside the outer data.
  Member outer;
  outer.Name = "outer.zip";
  outer.Method = 0;
  Member inner;
  inner.Name = "inner.txt";
  inner.Data = "inner";
  outer.Data = BuildZip({inner});
  const std::string nested = BuildZip({outer});
  const std::string innerRecord =
      Patched(CentralRecords(outer.Data)[0], 42, 30 + outer.Name.size(), 4);  // offset into the outer data
  // Two stored members, the first claiming enough compressed bytes to swallow the second.
  Member a;
  a.Name = "a.txt";
  a.Data = "aaaa";
  a.Method = 0;
  Member b = a;
  b.Name = "b.txt";
  b.Data = "bbbb";
  const std::string pair = BuildZip({a, b});
  const std::vector<std::string> pairRecords = CentralRecords(pair);
  struct Case {
    const char* What;
    std::string Archive;
    int Written;
    int Refused;
    int FailedCheck;
    std::map<std::string, std::string> Files;
  };
  const Case cases[] = {
      {"twenty records, one member", WithCentralDirectory(one, std::vector<std::string>(20, CentralRecords(one)[0])),
       1, 19, 0, {{"big.bin", big.Data}}},
      {"a record inside another member's data", WithCentralDirectory(nested, {CentralRecords(nested)[0], innerRecord}),
       1, 1, 0, {{"outer.zip", outer.Data}}},
      {"the inner record listed first", WithCentralDirectory(nested, {innerRecord, CentralRecords(nested)[0]}),
       1, 1, 0, {{"inner.txt", "inner"}}},
      // The liar comes first and keeps its range, but its data then run past its declared size.
      {"a compressed size over the next member",
       WithCentralDirectory(pair, {Patched(pairRecords[0], 20, 4 + 30 + 5 + 4, 4), pairRecords[1]}), 0, 1, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TempDir temp;
    const std::string archive = temp.Write("a.zip", c.Archive);
    TUnZip unzip;
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
    EXPECT_EQ(run.Count, c.Written);
    EXPECT_EQ(run.CountOf(zipmsg::kBadOffsetToLocalHeader), c.Refused);
    EXPECT_EQ(run.CountOf(zipmsg::kFileFailsCrcCheck), c.FailedCheck);
    EXPECT_TRUE(ziptest::FilesBelow(temp.Path() / "out") == c.Files);
  }
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
