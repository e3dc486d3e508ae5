#include "app/zip_directory.h"

#include "zip/zip_records.h"

namespace {

const uint8_t* Bytes(const std::string& text, int64_t at) { return reinterpret_cast<const uint8_t*>(text.data()) + at; }

// The end record whose comment reaches the file's end, searched from the back; -1 when there is none.
int64_t FindEndRecord(const std::string& held) {
  const int64_t size = static_cast<int64_t>(held.size());
  for (int64_t at = size - ziprec::kEndRecordSize; at >= 0 && size - at <= 65535 + ziprec::kEndRecordSize; --at) {
    const uint8_t* p = Bytes(held, at);
    if (ziprec::EndSignature(p) == ziprec::SignatureForm::Plain && !ziprec::IsEndRecord26(p) &&
        at + ziprec::kEndRecordSize + ziprec::ParseEndRecord(p).CommentLength == size) {
      return at;
    }
  }
  return -1;
}

struct TDirectoryPlace {
  int64_t End = 0;     // where the directory ends in the file: the ZIP64 end record, or the end record
  uint64_t Size = 0;
  uint64_t Stated = 0;  // where the end record says it begins
  uint64_t Count = 0;
};

// The directory's size, stated start and count, from the ZIP64 end record when the locator is in front of the
// end record (the ZIP64 end record assumed just before the locator, where every writer puts it).
bool PlaceDirectory(const std::string& held, int64_t heldFrom, int64_t end, TDirectoryPlace& place) {
  const ziprec::TEndRecord record = ziprec::ParseEndRecord(Bytes(held, end));
  place = {heldFrom + end, record.CentralDirectorySize, record.CentralDirectoryOffset, record.TotalEntries};
  const int64_t locator = end - ziprec::kLocatorSize;
  if (locator < 0 || !ziprec::IsLocatorSignature(Bytes(held, locator))) return true;
  const int64_t ending64 = locator - ziprec::kEnding64Size;
  if (ending64 < 0 || !ziprec::IsEnding64Signature(Bytes(held, ending64))) return false;
  const ziprec::TEnding64 wide = ziprec::ParseEnding64(Bytes(held, ending64));
  place = {heldFrom + ending64, wide.CentralDirectorySize, wide.CentralDirectoryOffset, wide.TotalEntries};
  return true;
}

// Reads the records between begin and end of held; shift moves the stated offsets to the file's.
bool ReadRecords(const std::string& held, int64_t begin, int64_t end, int64_t shift, uint64_t count,
                 std::vector<TDirectoryEntry>& entries) {
  int64_t at = begin;
  for (uint64_t index = 0; index < count; ++index) {
    if (end - at < ziprec::kCentralRecordSize ||
        ziprec::CentralSignature(Bytes(held, at)) != ziprec::SignatureForm::Plain) {
      return false;
    }
    ziprec::TCentralRecord record = ziprec::ParseCentralRecord(Bytes(held, at));
    const int64_t name = at + ziprec::kCentralRecordSize;
    const int64_t next = name + record.NameLength + record.ExtraLength + record.CommentLength;
    if (next > end) return false;
    ziprec::ApplyCentralExtra(record, Bytes(held, name + record.NameLength), record.ExtraLength);
    entries.push_back({held.substr(static_cast<size_t>(name), record.NameLength), record.Crc,
                       record.CompressedSize.Value(), record.UncompressedSize.Value(), record.Method,
                       (record.Flags & ziprec::kFlagEncrypted) != 0, record.LocalHeaderOffset.Value() + shift});
    at = next;
  }
  return at == end;
}

}  // namespace

bool ReadZipDirectory(const std::string& held, int64_t heldFrom, int64_t totalLength, TZipDirectory& directory,
                      int64_t& neededFrom) {
  neededFrom = heldFrom;
  if (heldFrom + static_cast<int64_t>(held.size()) != totalLength) return false;
  const int64_t end = FindEndRecord(held);
  TDirectoryPlace place;
  if (end < 0 || !PlaceDirectory(held, heldFrom, end, place)) return false;
  if (place.Size > static_cast<uint64_t>(place.End)) return false;
  const int64_t start = place.End - static_cast<int64_t>(place.Size);
  if (start < heldFrom) {
    neededFrom = start;
    return false;
  }
  directory = {{}, start};
  // A stub in front of the archive, unless the writer counted it, moves every offset by its length.
  const int64_t shift = start - static_cast<int64_t>(place.Stated);
  return ReadRecords(held, start - heldFrom, place.End - heldFrom, shift, place.Count, directory.Entries);
}

int64_t LocalDataOffset(const std::string& fixedPart, int64_t headerOffset) {
  if (fixedPart.size() != ziprec::kLocalHeaderSize ||
      ziprec::LocalSignature(Bytes(fixedPart, 0)) != ziprec::SignatureForm::Plain) {
    return -1;
  }
  const ziprec::TLocalHeader header = ziprec::ParseLocalHeader(Bytes(fixedPart, 0));
  return headerOffset + ziprec::kLocalHeaderSize + header.NameLength + header.ExtraLength;
}
