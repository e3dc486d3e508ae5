#pragma once
// The ZIP records the extractor reads: local header, central record, end record and the ZIP64 locator and
// end record, their signature forms, the two extra-field blocks it understands, and the enciphered forms.
// All values are little-endian. Sizes and offsets carry a 32-bit field plus a 16-bit high word (48 bits).
#include <cstdint>
#include <string>

namespace ziprec {

inline constexpr int kLocalHeaderSize = 30;
inline constexpr int kCentralRecordSize = 46;
inline constexpr int kEndRecordSize = 22;
inline constexpr int kEndRecord26Size = 26;
inline constexpr int kLocatorSize = 20;
inline constexpr int kEnding64Size = 56;
// Names are read into a 256-byte buffer: at most this many bytes of a name are kept.
inline constexpr int kMaxNameLength = 255;

// The general purpose flags of a local header and a central record that the extractor acts on.
inline constexpr uint16_t kFlagEncrypted = 0x0001;       // the data are enciphered, behind an encryption header
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;  // CRC and sizes follow the data
inline constexpr uint16_t kFlagUtf8Name = 0x0800;        // the name (and comment) are UTF-8
// The header in front of an enciphered member's data: counted in its compressed size.
inline constexpr int kEncryptionHeaderSize = 12;
// The host system of a central record's version made by (its high byte) that stands for Unix.
inline constexpr int kHostUnix = 3;

enum class SignatureForm { None, Plain, Enciphered };

// The forms of the table: second byte 'K' or 'M' plain, 'L' or 'N' enciphered (for the end record 0x5B and
// 0x5C replace 'M' and 'N' and mark the 26-byte variant). p must hold 4 bytes.
SignatureForm LocalSignature(const uint8_t* p);
SignatureForm CentralSignature(const uint8_t* p);
SignatureForm EndSignature(const uint8_t* p);
bool IsEndRecord26(const uint8_t* p);
bool IsLocatorSignature(const uint8_t* p);
bool IsEnding64Signature(const uint8_t* p);
// 50 4B 07 08: the marker in front of a spanned set, and the optional signature of a data descriptor.
bool IsSpanningMarker(const uint8_t* p);

uint16_t Get16(const uint8_t* p);
uint32_t Get32(const uint8_t* p);
uint64_t Get64(const uint8_t* p);

// A 32-bit header field with its high word: the value as the extractor uses it.
struct TWideValue {
  uint32_t Low = 0;
  uint16_t High = 0;
  int64_t Value() const { return static_cast<int64_t>(Low) | (static_cast<int64_t>(High) << 32); }
};

// A local header; a central record repeats its fields, in the same order, from its own version needed on.
struct TLocalHeader {
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint32_t DosDateTime = 0;
  uint32_t Crc = 0;
  TWideValue CompressedSize;
  TWideValue UncompressedSize;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;
};

struct TCentralRecord : TLocalHeader {
  uint16_t VersionMadeBy = 0;
  uint16_t CommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  TWideValue LocalHeaderOffset;
};

struct TEndRecord {
  uint16_t ThisDisk = 0;
  uint16_t CentralDirectoryDisk = 0;
  uint16_t EntriesOnDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t CentralDirectorySize = 0;
  uint64_t CentralDirectoryOffset = 0;  // 8 bytes wide in the 26-byte variant
  uint16_t CommentLength = 0;
  bool Variant26 = false;
};

struct TLocator {
  uint32_t Ending64Disk = 0;
  uint64_t Ending64Offset = 0;
  uint32_t TotalDisks = 0;
};

struct TEnding64 {
  uint64_t RecordSize = 0;
  uint64_t EntriesOnDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t CentralDirectorySize = 0;
  uint64_t CentralDirectoryOffset = 0;
};

// Parsers of the fixed parts; the buffer holds the record from its signature on (deciphered already).
TLocalHeader ParseLocalHeader(const uint8_t* p);
TCentralRecord ParseCentralRecord(const uint8_t* p);
TEndRecord ParseEndRecord(const uint8_t* p);
TLocator ParseLocator(const uint8_t* p);
TEnding64 ParseEnding64(const uint8_t* p);

// Applies the extra field's ZIP64 (0x0001) and high-word (0x0064) blocks; every other block is skipped. A
// ZIP64 value is taken only for a field holding 0xFFFFFFFF; of its 8 bytes the low 4 replace the field, the
// next 2 become the high word, the top 2 are dropped. A block running past the field ends the parsing.
void ApplyLocalExtra(TLocalHeader& header, const uint8_t* extra, int64_t length);
void ApplyCentralExtra(TCentralRecord& record, const uint8_t* extra, int64_t length);
// The UTF-8 name of the extra field's Info-ZIP Unicode path block (0x7075): version 1, then the CRC-32 of the
// header's name, then the name. Empty when there is no such block, or when its CRC is not that of
// headerName (the name was changed by a program that did not know the block).
std::string UnicodePath(const uint8_t* extra, int64_t length, const std::string& headerName);

// Deciphers a record in place from the byte after its signature, with a fresh header key: 26 bytes of a
// local header, 42 of a central record, 18 of an end record (22 of the 26-byte variant).
void DecipherRecordBody(uint8_t* record, int bodyLength);
// Deciphers a record's name in place, again from a fresh header key.
void DecipherName(uint8_t* name, int64_t length);

}  // namespace ziprec
