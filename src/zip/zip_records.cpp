#include "zip/zip_records.h"

#include "zip/crc32.h"
#include "zip/zip_cipher.h"

namespace ziprec {
namespace {

SignatureForm FormOf(uint8_t second, uint8_t plainA, uint8_t plainB, uint8_t cipherA, uint8_t cipherB) {
  if (second == plainA || second == plainB) return SignatureForm::Plain;
  if (second == cipherA || second == cipherB) return SignatureForm::Enciphered;
  return SignatureForm::None;
}

SignatureForm RecordSignature(const uint8_t* p, uint8_t third, uint8_t fourth) {
  if (p[0] != 'P' || p[2] != third || p[3] != fourth) return SignatureForm::None;
  return FormOf(p[1], 'K', 'M', 'L', 'N');
}

// One extra-field ZIP64 value: taken only when the header field says it overflowed.
void TakeZip64Value(TWideValue& field, const uint8_t*& cursor, const uint8_t* end) {
  if (field.Low != 0xFFFFFFFFu || end - cursor < 8) return;
  field.Low = Get32(cursor);
  field.High = Get16(cursor + 4);
  cursor += 8;
}

// Walks the blocks of an extra field; handle(tag, data, size) sees each block that fits.
template <typename Handler>
void ForEachBlock(const uint8_t* extra, int64_t length, Handler handle) {
  int64_t offset = 0;
  while (length - offset >= 4) {
    const uint16_t tag = Get16(extra + offset);
    const uint16_t size = Get16(extra + offset + 2);
    offset += 4;
    if (size > length - offset) return;
    handle(tag, extra + offset, static_cast<int64_t>(size));
    offset += size;
  }
}

constexpr uint16_t kZip64Tag = 0x0001;
constexpr uint16_t kHighWordsTag = 0x0064;
constexpr uint16_t kUnicodePathTag = 0x7075;

// The fields a local header and a central record share; p is at the version needed.
TLocalHeader ParseSharedFields(const uint8_t* p) {
  TLocalHeader h;
  h.VersionNeeded = Get16(p);
  h.Flags = Get16(p + 2);
  h.Method = Get16(p + 4);
  h.DosDateTime = Get32(p + 6);
  h.Crc = Get32(p + 10);
  h.CompressedSize.Low = Get32(p + 14);
  h.UncompressedSize.Low = Get32(p + 18);
  h.NameLength = Get16(p + 22);
  h.ExtraLength = Get16(p + 24);
  return h;
}

// The sizes, and for a central record (offset not null) the local header's offset, in the order both
// blocks hold them.
void ApplyExtra(TLocalHeader& sizes, TWideValue* offset, const uint8_t* extra, int64_t length) {
  ForEachBlock(extra, length, [&sizes, offset](uint16_t tag, const uint8_t* data, int64_t size) {
    if (tag == kZip64Tag) {
      const uint8_t* cursor = data;
      TakeZip64Value(sizes.UncompressedSize, cursor, data + size);
      TakeZip64Value(sizes.CompressedSize, cursor, data + size);
      if (offset != nullptr) TakeZip64Value(*offset, cursor, data + size);
    } else if (tag == kHighWordsTag && size >= (offset != nullptr ? 6 : 4)) {
      sizes.CompressedSize.High = Get16(data);
      sizes.UncompressedSize.High = Get16(data + 2);
      if (offset != nullptr) offset->High = Get16(data + 4);
    }
  });
}

}  // namespace

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t Get64(const uint8_t* p) { return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

SignatureForm LocalSignature(const uint8_t* p) { return RecordSignature(p, 3, 4); }
SignatureForm CentralSignature(const uint8_t* p) { return RecordSignature(p, 1, 2); }

SignatureForm EndSignature(const uint8_t* p) {
  if (p[0] != 'P' || p[2] != 5 || p[3] != 6) return SignatureForm::None;
  return FormOf(p[1], 'K', 0x5B, 'L', 0x5C);
}

bool IsEndRecord26(const uint8_t* p) { return EndSignature(p) != SignatureForm::None && (p[1] == 0x5B || p[1] == 0x5C); }
bool IsLocatorSignature(const uint8_t* p) { return p[0] == 'P' && p[1] == 'K' && p[2] == 6 && p[3] == 7; }
bool IsEnding64Signature(const uint8_t* p) { return p[0] == 'P' && p[1] == 'K' && p[2] == 6 && p[3] == 6; }
bool IsSpanningMarker(const uint8_t* p) { return p[0] == 'P' && p[1] == 'K' && p[2] == 7 && p[3] == 8; }

TLocalHeader ParseLocalHeader(const uint8_t* p) { return ParseSharedFields(p + 4); }

TCentralRecord ParseCentralRecord(const uint8_t* p) {
  TCentralRecord r;
  static_cast<TLocalHeader&>(r) = ParseSharedFields(p + 6);
  r.VersionMadeBy = Get16(p + 4);
  r.CommentLength = Get16(p + 32);
  r.DiskNumberStart = Get16(p + 34);
  r.InternalAttributes = Get16(p + 36);
  r.ExternalAttributes = Get32(p + 38);
  r.LocalHeaderOffset.Low = Get32(p + 42);
  return r;
}

TEndRecord ParseEndRecord(const uint8_t* p) {
  TEndRecord e;
  e.ThisDisk = Get16(p + 4);
  e.CentralDirectoryDisk = Get16(p + 6);
  e.EntriesOnDisk = Get16(p + 8);
  e.TotalEntries = Get16(p + 10);
  e.CentralDirectorySize = Get32(p + 12);
  e.Variant26 = IsEndRecord26(p);
  if (e.Variant26) {
    e.CentralDirectoryOffset = Get64(p + 16);
    e.CommentLength = Get16(p + 24);
  } else {
    e.CentralDirectoryOffset = Get32(p + 16);
    e.CommentLength = Get16(p + 20);
  }
  return e;
}

TLocator ParseLocator(const uint8_t* p) {
  TLocator l;
  l.Ending64Disk = Get32(p + 4);
  l.Ending64Offset = Get64(p + 8);
  l.TotalDisks = Get32(p + 16);
  return l;
}

TEnding64 ParseEnding64(const uint8_t* p) {
  TEnding64 e;
  e.RecordSize = Get64(p + 4);
  e.EntriesOnDisk = Get64(p + 24);
  e.TotalEntries = Get64(p + 32);
  e.CentralDirectorySize = Get64(p + 40);
  e.CentralDirectoryOffset = Get64(p + 48);
  return e;
}

void ApplyLocalExtra(TLocalHeader& header, const uint8_t* extra, int64_t length) {
  ApplyExtra(header, nullptr, extra, length);
}

void ApplyCentralExtra(TCentralRecord& record, const uint8_t* extra, int64_t length) {
  ApplyExtra(record, &record.LocalHeaderOffset, extra, length);
}

std::string UnicodePath(const uint8_t* extra, int64_t length, const std::string& headerName) {
  std::string path;
  const uint32_t crc = Crc32(0, reinterpret_cast<const uint8_t*>(headerName.data()), headerName.size());
  ForEachBlock(extra, length, [&path, crc](uint16_t tag, const uint8_t* data, int64_t size) {
    if (tag == kUnicodePathTag && size > 5 && data[0] == 1 && Get32(data + 1) == crc) {
      path.assign(reinterpret_cast<const char*>(data + 5), static_cast<size_t>(size - 5));
    }
  });
  return path;
}

void DecipherRecordBody(uint8_t* record, int bodyLength) {
  TZipCipher cipher = TZipCipher::HeaderKey();
  cipher.Decipher(record + 4, bodyLength);
}

void DecipherName(uint8_t* name, int64_t length) {
  TZipCipher cipher = TZipCipher::HeaderKey();
  cipher.Decipher(name, length);
}

}  // namespace ziprec
