#include "app/reuse_plan.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "support/zip_builder.h"
#include "zip/zip_records.h"

namespace {

using ziptest::Member;

// The archive's directory, with every member's data offset read from its local header.
TZipDirectory DirectoryOf(const std::string& archive) {
  TZipDirectory directory;
  int64_t neededFrom = 0;
  EXPECT_TRUE(ReadZipDirectory(archive, 0, static_cast<int64_t>(archive.size()), directory, neededFrom));
  for (TDirectoryEntry& entry : directory.Entries) {
    entry.DataOffset = LocalDataOffset(
        archive.substr(static_cast<size_t>(entry.HeaderOffset), ziprec::kLocalHeaderSize), entry.HeaderOffset);
  }
  return directory;
}

std::string Content(int index, int version = 0) {
  std::string text;
  for (int line = 0; text.size() < 3000; ++line) {
    text += "member " + std::to_string(index) + " line " + std::to_string(line * 7 + version) + "\n";
  }
  return text;
}

std::vector<Member> Members(int count) {
  std::vector<Member> members;
  for (int index = 0; index < count; ++index) members.push_back({"dir/m" + std::to_string(index), Content(index)});
  return members;
}

std::vector<Member> Changed(std::vector<Member> members, const std::set<int>& indexes) {
  for (int index : indexes) members[static_cast<size_t>(index)].Data = Content(index, 1);
  return members;
}

std::vector<Member> Redated(std::vector<Member> members) {
  for (Member& member : members) {
    member.DosDateTime += 0x10000;
    member.LocalExtra = "UT\x05\x00\x01\x12\x34\x56\x78";
  }
  return members;
}

std::vector<Member> Streamed(std::vector<Member> members) {
  for (Member& member : members) member.DataDescriptor = true;
  return members;
}

// The same contents deflated differently: in stored blocks, as a compressor at level 0 writes them.
std::vector<Member> StoredBlocks(std::vector<Member> members) {
  for (Member& member : members) {
    const std::string data = member.Data;
    const auto length = static_cast<uint16_t>(data.size());
    member.Data = std::string{'\x01', static_cast<char>(length & 0xFF), static_cast<char>(length >> 8),
                              static_cast<char>(~length & 0xFF), static_cast<char>((~length >> 8) & 0xFF)} +
                  data;
    member.StoredAsGiven = true;
    member.DeclaredCrc = ziptest::Crc32(data);
    member.DeclaredUncompressedSize = static_cast<int64_t>(data.size());
  }
  return members;
}

std::string Fixture(const std::string& name) {
  std::ifstream file(std::string(UPDATER_FIXTURES_DIR) + "/zip/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct PlanCase {
  const char* name;
  std::string old;
  std::string fresh;
  std::set<std::string> reused;  // the members whose data come from the old archive
  int fetchedSegments;
  bool worthwhile;
  std::set<std::string> unsound{};  // old members whose data fail their check
  int64_t held = 0;                 // bytes before the directory that came with the tail
};

std::vector<PlanCase> Cases() {
  const std::vector<Member> base = Members(6);
  std::set<std::string> all;
  for (const Member& member : base) all.insert(member.Name);
  auto without = [&](std::set<std::string> names, std::set<std::string> gone) {
    for (const std::string& name : gone) names.erase(name);
    return names;
  };
  std::vector<Member> addedRemoved = base;
  addedRemoved.erase(addedRemoved.begin() + 2);
  addedRemoved.insert(addedRemoved.begin() + 4, Member{"dir/new", Content(99)});
  const std::vector<Member> reordered(base.rbegin(), base.rend());
  const std::string zip64 = Fixture("zip64.zip");
  return {
      {"Identical", ziptest::BuildZip(base), ziptest::BuildZip(base), all, 6, true},
      {"OneMemberChanged", ziptest::BuildZip(base), ziptest::BuildZip(Changed(base, {3})),
       without(all, {"dir/m3"}), 5, true},
      {"EveryDateNewThreeContents", ziptest::BuildZip(base), ziptest::BuildZip(Redated(Changed(base, {0, 2, 5}))),
       {"dir/m1", "dir/m3", "dir/m4"}, 4, true},
      {"MostChanged", ziptest::BuildZip(base), ziptest::BuildZip(Changed(base, {0, 1, 2, 3, 5})), {"dir/m4"}, 2,
       false},
      {"AddedAndRemoved", ziptest::BuildZip(base), ziptest::BuildZip(addedRemoved),
       without(all, {"dir/m2"}), 5, true},
      {"Reordered", ziptest::BuildZip(base), ziptest::BuildZip(reordered), all, 6, true},
      {"OtherCompressorLevel", ziptest::BuildZip(StoredBlocks(base)), ziptest::BuildZip(base), {}, 1, false},
      {"DataDescriptors", ziptest::BuildZip(Streamed(base)), ziptest::BuildZip(Streamed(Redated(base))), all, 7,
       true},
      {"Zip64", zip64, zip64, {"tree/sub/data.bin"}, 2, true},
      {"SelfExtractorStub", ziptest::BuildZip(base), ziptest::BuildZip(base, {std::string(5000, 'S'), ""}), all, 6,
       true},
      {"Comment", ziptest::BuildZip(base, {"", "old comment"}), ziptest::BuildZip(base, {"", "a new comment"}), all,
       6, true},
      {"DamagedOldMember", ziptest::BuildZip(base), ziptest::BuildZip(base), without(all, {"dir/m4"}), 5, true,
       {"dir/m4"}},
      {"TailInsideTheLastMember", ziptest::BuildZip(base), ziptest::BuildZip(Redated(base)), all, 6, true, {}, 100},
  };
}

void PrintTo(const PlanCase& row, std::ostream* out) { *out << row.name; }

class PlanReuseTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanReuseTest, ReusesTheUnchangedAndAssemblesTheNewArchive) {
  const PlanCase& row = GetParam();
  const TZipDirectory old = DirectoryOf(row.old);
  const TZipDirectory fresh = DirectoryOf(row.fresh);
  const int64_t end = fresh.Start - row.held;
  const TReusePlan plan = PlanReuse(fresh.Entries, old.Entries, end,
                                    [&](const TDirectoryEntry& entry) { return row.unsound.count(entry.Name) == 0; });

  std::set<std::string> reused;
  int fetchedSegments = 0;
  std::string assembled;
  for (const TReuseSegment& segment : plan.Segments) {
    ASSERT_EQ(segment.Offset, static_cast<int64_t>(assembled.size()));
    const std::string& source = segment.Fetched() ? row.fresh : row.old;
    assembled += source.substr(static_cast<size_t>(segment.Fetched() ? segment.Offset : segment.OldOffset),
                               static_cast<size_t>(segment.Length));
    fetchedSegments += segment.Fetched() ? 1 : 0;
    for (const TDirectoryEntry& entry : fresh.Entries) {
      if (!segment.Fetched() && entry.DataOffset == segment.Offset) reused.insert(entry.Name);
    }
  }
  assembled += row.fresh.substr(static_cast<size_t>(end));
  EXPECT_EQ(assembled, row.fresh);
  EXPECT_EQ(reused, row.reused);
  EXPECT_EQ(plan.ReusedMembers, static_cast<int>(row.reused.size()));
  EXPECT_EQ(fetchedSegments, row.fetchedSegments);
  EXPECT_EQ(plan.ReusedBytes + plan.FetchedBytes, end);
  EXPECT_EQ(plan.Worthwhile(static_cast<int64_t>(row.fresh.size())), row.worthwhile);
}

INSTANTIATE_TEST_SUITE_P(Archives, PlanReuseTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

}  // namespace
