// The extractor over archives written to a private temporary directory, and the mask matcher. The
// extraction entries check the one promise that matters most: nothing is written outside the extract
// directory, whatever names the archive holds.
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "sandbox.h"
#include "support/zip_builder.h"
#include "zip/internal_mask.h"
#include "zip/messages.h"
#include "zip/unzip.h"

namespace {

// Extracts every member as the updater does (overwrite, "*.*"), with one password to try, reading strictly
// or not. An archive that strict reading calls damaged must have nothing written, not even a directory.
void ExtractArchive(const std::string& bytes, bool strict) {
  TSandbox& sandbox = Sandbox();
  sandbox.Reset();
  const std::string archive = sandbox.WriteBeside("archive.zip", bytes);
  TUnZip unzip;
  unzip.OverwriteMode = TOverwriteMode::omOverwrite;
  unzip.FileSpec().push_back("*.*");
  unzip.SetPasswords({"secret"});
  unzip.SetExtractDir(sandbox.OutText());
  unzip.SetArchiveFile(archive);
  unzip.RequireCentralDirectory = strict;
  bool damaged = false;
  unzip.OnError = [&damaged](TUnBase&, const std::string&, const std::string&, const std::string&, int code) {
    if (code == zipmsg::kIncompleteCentralDirectory) damaged = true;
  };
  unzip.OnBegin = [&sandbox](TUnBase&, const std::string& fileName, int, bool&) {
    // An empty target (an empty stored name) is never written.
    FuzzCheck(fileName.empty() || sandbox.Inside(fileName), "a member's target lies outside the extract directory: " + fileName);
  };
  unzip.Extract();
  sandbox.CheckContained();
  if (damaged) {
    FuzzCheck(unzip.ListedCount() == 0, "an archive reported damaged had members listed");
    FuzzCheck(sandbox.OutEmpty(), "an archive reported damaged had something written");
  }
}

}  // namespace

// The input is the archive file, extracted as read without and with strict reading.
void FuzzZipArchive(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ExtractArchive(bytes, /*strict=*/false);
  ExtractArchive(bytes, /*strict=*/true);
}

// One member in a well-formed archive whose headers declare what the input says, so that the fuzzer spends
// its effort on the member's data:
//   byte 0      method, an index into the methods the driver knows (and two it does not)
//   byte 1      general purpose flags (bit 0 enciphered with the password "secret", bit 3 data descriptor)
//   bytes 2..5  declared uncompressed size, reduced below 1 MiB
//   bytes 6..9  declared CRC-32
//   the rest    the member's data as stored
void FuzzZipMember(const uint8_t* data, size_t size) {
  static const uint16_t kMethods[] = {0, 1, 2, 3, 4, 5, 6, 8, 9, 12, 99};
  TFuzzInput input(data, size);
  const uint16_t method = kMethods[input.Byte() % (sizeof kMethods / sizeof kMethods[0])];
  const uint16_t flags = input.Byte();
  const uint32_t uncompressed = input.Bits32() % (1024 * 1024);
  const uint32_t crc = input.Bits32();
  const std::string payload = input.Rest();

  ziptest::Member member;
  member.Name = "member.bin";
  member.Data = payload;
  member.StoredAsGiven = true;
  member.Method = method;
  member.Flags = flags;
  member.DeclaredCrc = crc;
  member.DeclaredUncompressedSize = uncompressed;
  const std::string archive = ziptest::BuildZip({member});
  ExtractArchive(archive, /*strict=*/false);
}

namespace {

// The documented matching rules, the slow and obvious way: the mask's items as the matcher compiles them
// ("*?" is "*"), then every split tried by dynamic programming.
bool ReferenceMatches(std::string name, const std::string& mask) {
  struct Item {
    bool Star;
    bool AnyOne;
    char Ch;
  };
  const auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  std::vector<Item> items;
  bool star = false;
  for (const char c : mask) {
    if (c == '*') {
      star = true;
    } else if (c == '?') {
      if (!star) items.push_back({false, true, 0});
    } else {
      items.push_back({star, false, upper(c)});
      star = false;
    }
  }
  const bool trailingStar = star;
  if (!mask.empty() && mask.back() == '.' && name.find('.') == std::string::npos) name += '.';
  // can[i][j]: name from i matches items from j (and the end).
  const size_t n = name.size();
  const size_t m = items.size();
  std::vector<std::vector<char>> can(n + 1, std::vector<char>(m + 1, 0));
  for (size_t i = 0; i <= n; ++i) can[i][m] = (i == n || trailingStar) ? 1 : 0;
  for (size_t j = m; j-- > 0;) {
    for (size_t i = n + 1; i-- > 0;) {
      const auto accepts = [&](size_t at) { return at < n && (items[j].AnyOne || upper(name[at]) == items[j].Ch); };
      bool result = accepts(i) && can[i + 1][j + 1];
      // A star item may also start further on: the same question one byte later.
      if (!result && items[j].Star && i < n) result = can[i + 1][j] != 0;
      can[i][j] = result ? 1 : 0;
    }
  }
  return can[0][0] != 0;
}

}  // namespace

// Input: the name, a zero byte, the mask. Zero bytes end names as they end C strings, so none is kept.
void FuzzMask(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const std::string name = input.Until('\0');
  std::string mask;
  for (const char c : input.Rest()) {
    if (c != '\0') mask += c;
  }
  FuzzCheck(MaskMatches(name, mask) == ReferenceMatches(name, mask), "mask matcher differs from the rules");
}
