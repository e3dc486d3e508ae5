#include "legacy_zip_member.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

uint32_t Le(const std::vector<uint8_t>& data, size_t offset, int bytes) {
  if (offset + static_cast<size_t>(bytes) > data.size()) throw std::runtime_error("ZIP structure past the end");
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | data[offset + static_cast<size_t>(i)];
  return value;
}

}  // namespace

std::vector<uint8_t> ReadFixture(const std::string& relativeName) {
  std::ifstream file(std::string(UPDATER_FIXTURES_DIR) + "/" + relativeName, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<TLegacyZipMember> ReadLegacyZip(const std::string& relativeName) {
  const std::vector<uint8_t> data = ReadFixture(relativeName);
  if (data.size() < 22) throw std::runtime_error("not a ZIP archive: " + relativeName);
  size_t end = data.size() - 22;
  while (Le(data, end, 4) != 0x06054b50) {
    if (end == 0) throw std::runtime_error("no end record: " + relativeName);
    --end;
  }
  const uint32_t count = Le(data, end + 10, 2);
  size_t central = Le(data, end + 16, 4);
  std::vector<TLegacyZipMember> members;
  for (uint32_t i = 0; i < count; ++i) {
    if (Le(data, central, 4) != 0x02014b50) throw std::runtime_error("bad central header: " + relativeName);
    TLegacyZipMember member;
    member.Flags = static_cast<uint16_t>(Le(data, central + 8, 2));
    member.Method = static_cast<uint16_t>(Le(data, central + 10, 2));
    member.Crc = Le(data, central + 16, 4);
    const uint32_t compressedSize = Le(data, central + 20, 4);
    member.UncompressedSize = Le(data, central + 24, 4);
    const uint32_t nameLength = Le(data, central + 28, 2);
    const uint32_t extraLength = Le(data, central + 30, 2);
    const uint32_t commentLength = Le(data, central + 32, 2);
    const size_t local = Le(data, central + 42, 4);
    member.Name.assign(data.begin() + static_cast<long>(central + 46),
                       data.begin() + static_cast<long>(central + 46 + nameLength));
    if (Le(data, local, 4) != 0x04034b50) throw std::runtime_error("bad local header: " + relativeName);
    const size_t start = local + 30 + Le(data, local + 26, 2) + Le(data, local + 28, 2);
    if (start + compressedSize > data.size()) throw std::runtime_error("member past the end: " + relativeName);
    member.Compressed.assign(data.begin() + static_cast<long>(start),
                             data.begin() + static_cast<long>(start + compressedSize));
    members.push_back(std::move(member));
    central += 46 + nameLength + extraLength + commentLength;
  }
  return members;
}
