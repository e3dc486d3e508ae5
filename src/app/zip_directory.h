#pragma once
// The central directory of a ZIP archive read from bytes held in memory: the archive's last bytes, fetched
// with a suffix range, or read from a file. Only what tells whether a member's compressed data can be reused
// elsewhere is kept: name, CRC, sizes, method, the encryption flag and where the member is. The offsets are
// those of the file, whatever a self-extractor stub in front of the archive made the directory state.
#include <cstdint>
#include <string>
#include <vector>

struct TDirectoryEntry {
  std::string Name;  // the stored bytes, as the archive holds them
  uint32_t Crc = 0;
  int64_t CompressedSize = 0;
  int64_t UncompressedSize = 0;
  uint16_t Method = 0;
  bool Encrypted = false;
  int64_t HeaderOffset = 0;  // the local header
  int64_t DataOffset = -1;   // the first data byte, once the local header is known (LocalDataOffset)
};

struct TZipDirectory {
  std::vector<TDirectoryEntry> Entries;
  int64_t Start = 0;  // the first byte of the central directory
};

// The directory of an archive of totalLength bytes whose bytes from heldFrom to the end are held. The end
// record must end the file (its comment reaching the last byte) and the directory must be whole and in plain
// records. Returns false when it is none such; sets neededFrom below heldFrom when the directory begins before
// the held bytes (ask for them from there and call again).
bool ReadZipDirectory(const std::string& held, int64_t heldFrom, int64_t totalLength, TZipDirectory& directory,
                      int64_t& neededFrom);

// The bytes from the end that hold the largest end records (the ZIP64 end record and its locator in front of
// the end record) with the longest comment: a suffix of this length finds the end record of any archive, and
// its directory too unless that is large (a few hundred members fit in what a short comment leaves).
inline constexpr int64_t kDirectoryProbeBytes = 65535 + 22 + 20 + 56;

// The fixed part of a local header (ziprec::kLocalHeaderSize bytes) of the member whose header is at
// headerOffset: where its data begin; -1 when the bytes are no plain local header.
int64_t LocalDataOffset(const std::string& fixedPart, int64_t headerOffset);
