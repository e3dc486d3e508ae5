#pragma once
// Archives built byte by byte for tests, so that names, offsets and sizes can be anything a hostile or damaged
// archive may hold.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace ziptest {

struct Member {
  std::string Name;            // raw stored name bytes
  std::string Data;            // uncompressed content
  uint16_t Method = 8;         // 0 stored, 8 deflated, anything else: Data is stored as given
  uint32_t ExternalAttributes = 0x20;
  uint16_t VersionMadeBy = 20;  // high byte: host (3 = Unix)
  uint32_t DosDateTime = 0x5A8C6000;  // 2025-04-12 12:00:00
  std::string Password{};      // non-empty: traditional encryption
  bool DataDescriptor = false; // zero CRC and sizes in the local header, a descriptor after the data
  // The encryption header's check byte (-1: the CRC's high byte, or with a descriptor the DOS time's).
  int CheckByte = -1;
  uint16_t Flags = 0;          // further general purpose bits (the imploded method's window and trees)
  // Overrides of what the headers declare (-1: the true value).
  int64_t DeclaredCrc = -1;
  int64_t DeclaredUncompressedSize = -1;
  std::string LocalExtra{};
  std::string CentralExtra{};
  bool StoredAsGiven = false;  // Data is stored as given whatever the method (already compressed, or damaged)
};

struct ArchiveOptions {
  std::string Prefix;          // bytes in front of the archive (offsets are NOT adjusted for them)
  std::string Comment;         // archive comment
  bool EncipheredHeaders = false;  // local, central and end records in their enciphered forms
};

// A whole archive: local headers and data, central directory, end record.
std::string BuildZip(const std::vector<Member>& members, const ArchiveOptions& options = {});
// Raw deflate of the bytes.
std::string Deflate(const std::string& data);
uint32_t Crc32(const std::string& data);

// The shared test directory helpers, under the names the extractor's tests use.
using testsupport::FilesBelow;
using testsupport::ReadFile;
using testsupport::RemoveTree;
using testsupport::TempDir;

}  // namespace ziptest
