#pragma once
// Helpers of the extractor's tests: archives built byte by byte (so that names, offsets and sizes can be
// anything a hostile or damaged archive may hold), temporary directories, and file reading.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace ziptest {

struct Member {
  std::string Name;            // raw stored name bytes
  std::string Data;            // uncompressed content
  uint16_t Method = 8;         // 0 stored, 8 deflated, anything else: Data is stored as given
  uint32_t ExternalAttributes = 0x20;
  uint16_t VersionMadeBy = 20;  // high byte: host (3 = Unix)
  uint32_t DosDateTime = 0x5A8C6000;  // 2025-04-12 12:00:00
  std::string Password;        // non-empty: traditional encryption
  bool DataDescriptor = false; // zero CRC and sizes in the local header, a descriptor after the data
  // Overrides of what the headers declare (-1: the true value).
  int64_t DeclaredCrc = -1;
  int64_t DeclaredUncompressedSize = -1;
  std::string LocalExtra;
  std::string CentralExtra;
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

// A fresh directory below the system's temporary directory, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return m_path; }
  // The path as the extractor takes it, with a trailing separator.
  std::string Text() const;
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path m_path;
};

std::string ReadFile(const std::filesystem::path& path);
// Removes a tree, read-only files included (attribute tests and damaged archives leave some).
void RemoveTree(const std::filesystem::path& root);
// Regular files below root, relative path (generic form) to content.
std::map<std::string, std::string> FilesBelow(const std::filesystem::path& root);

}  // namespace ziptest
