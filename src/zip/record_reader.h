#pragma once
// One record of the archive read at a position: its fixed part, then the name and the extra field behind it.
// The directory walks and the read-back of a member's local header all go through here, so that every record
// is taken apart the same way.
#include <cstdint>
#include <string>
#include <vector>

#include "zip/stream32.h"
#include "zip/zip_records.h"

// A stored name as the archive means it, in the system code page, with native separators.
struct TStoredName {
  std::string Text;
  // False when the system code page cannot hold the name's characters: it shows them as '?' and must fail.
  bool Held = true;
};

// How a record's name bytes are read.
struct TNameRules {
  // The host system of the member's central record (its version made by, high byte); -1 when there is none.
  // A central record is read with its own.
  int Host = -1;
  // Names that are not UTF-8 are converted from the OEM code page.
  bool TranslateOem = true;
};

// Name bytes as the archive means them, up to the first zero byte, foreign separators made native: UTF-8
// when the header flags it, when the extra field's Unicode path gives it, or when a Unix host wrote valid
// UTF-8 beyond ASCII; otherwise from the OEM code page when the rules say so. A UTF-8 name is then put into
// the system code page, which may not hold it.
TStoredName MakeStoredName(const std::string& raw, uint16_t flags, const std::vector<uint8_t>& extra,
                           const TNameRules& rules);

// A listed member as its local header is read back: the local header's values, merged with the central
// record's flags, method and sizes when the list came from the central directory.
struct TMemberHeader {
  ziprec::TLocalHeader Local;           // as read from the local header
  TStoredName Name;                     // the local header's name
  uint16_t Flags = 0;
  uint16_t Method = 0;
  int64_t CompressedSize = 0;
  int64_t UncompressedSize = 0;
  uint32_t Crc = 0;                     // the local CRC, or the central one when the local is 0
  uint32_t ExternalAttributes = 0;
  uint16_t VersionMadeBy = 0;
  bool FromCentral = false;
};

// A local header (Fields = ziprec::TLocalHeader) or a central record (ziprec::TCentralRecord) as read.
template <class Fields>
struct TRecordAt {
  // None when the fixed part carries no signature of its kind (or not even 4 bytes of one could be read).
  ziprec::SignatureForm Form = ziprec::SignatureForm::None;
  // Bytes of the fixed part that could be read.
  int64_t Got = 0;
  // The fixed part, deciphered, with the extra field's sizes and offsets applied.
  Fields Values;
  // At most 255 bytes of the name are kept.
  TStoredName Name;
  // The first byte behind the record: behind its name and extra field, and a central record's comment.
  int64_t End = 0;

  // The fixed part was read whole and carries its kind's signature.
  bool Whole() const;
};

// Reads the record at position.
template <class Fields>
TRecordAt<Fields> ReadRecordAt(TStream32& stream, int64_t position, const TNameRules& rules);

// Reads a local header's fixed part alone, deciphered in place when enciphered, and tells its signature's
// form: None when it is cut or carries no local signature.
ziprec::SignatureForm ReadLocalFixedPart(TStream32& stream, int64_t position,
                                         uint8_t (&bytes)[ziprec::kLocalHeaderSize]);
