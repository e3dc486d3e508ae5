#pragma once
// Test helper: reads the members of a small ZIP archive from the fixtures directory through its central
// directory, just far enough to hand a member's compressed bytes to a decoder and to compare the result with
// the stored size and CRC-32.
#include <cstdint>
#include <string>
#include <vector>

struct TLegacyZipMember {
  std::string Name;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint32_t Crc = 0;
  int64_t UncompressedSize = 0;
  std::vector<uint8_t> Compressed;
};

// The bytes of a file below the fixtures directory (relative name, '/' separated); empty when unreadable.
std::vector<uint8_t> ReadFixture(const std::string& relativeName);

// Every member of the archive, in central directory order; throws std::runtime_error on a malformed archive.
std::vector<TLegacyZipMember> ReadLegacyZip(const std::string& relativeName);
