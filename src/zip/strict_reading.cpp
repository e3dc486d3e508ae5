#include "zip/strict_reading.h"

#include "platform/files.h"

namespace {

using ziprec::SignatureForm;

// What a streamed member's data descriptor says differently from its central record: a descriptor with or
// without a signature, with 4-byte or (ZIP64) 8-byte sizes, at dataEnd.
std::string DescriptorDisagreement(TStream32& stream, int64_t dataEnd, const ziprec::TCentralRecord& central) {
  uint8_t descriptor[24] = {};
  const int64_t got = stream.ReadAt(dataEnd, descriptor, sizeof descriptor);
  const int skip = got >= 4 && ziprec::IsSpanningMarker(descriptor) ? 4 : 0;
  const uint8_t* p = descriptor + skip;
  const uint64_t compressed = static_cast<uint64_t>(central.CompressedSize.Value());
  const uint64_t uncompressed = static_cast<uint64_t>(central.UncompressedSize.Value());
  const bool narrow = got >= skip + 12 && ziprec::Get32(p + 4) == compressed && ziprec::Get32(p + 8) == uncompressed;
  const bool wide = got >= skip + 20 && ziprec::Get64(p + 4) == compressed && ziprec::Get64(p + 12) == uncompressed;
  if (got < skip + 12 || ziprec::Get32(p) != central.Crc) return "CRC (data descriptor)";
  if (!narrow && !wide) return "sizes (data descriptor)";
  return std::string();
}

}  // namespace

std::string TStrictReading::EndRecordFault(int64_t endPosition, const ziprec::TEndRecord& end, int64_t archiveSize,
                                           bool centralFound) const {
  if (endPosition < 0) return "no end record";
  const int64_t endSize = end.Variant26 ? ziprec::kEndRecord26Size : ziprec::kEndRecordSize;
  if (endPosition + endSize + end.CommentLength > archiveSize) return "end record or its comment cut";
  // An empty archive has no central record to find; every other needs one where the end record says.
  if (m_counted > 0 && !centralFound) return "no central directory where the end record puts it";
  return std::string();
}

std::string TStrictReading::RecordsBeyond(TStream32& stream, int64_t position) const {
  uint8_t next[4] = {};
  if (position + ziprec::kCentralRecordSize <= m_directoryEnd && stream.ReadAt(position, next, 4) == 4 &&
      ziprec::CentralSignature(next) != SignatureForm::None) {
    return "more central records than the end record counts (" + std::to_string(m_counted) + ")";
  }
  return std::string();
}

std::string TStrictReading::Unreadable(const TRecordAt<ziprec::TCentralRecord>& record, uint64_t walked) const {
  if (record.Form == SignatureForm::None) return Fault(walked, record.Got < 4 ? "cut" : "without its signature");
  return Fault(walked, "cut");
}

std::string TStrictReading::Unusable(const TRecordAt<ziprec::TCentralRecord>& record, uint64_t walked) const {
  if (record.End > m_directoryEnd) return Fault(walked, "runs past the end record");
  // A member that cannot be written under its own name fails rather than landing under another one (its
  // name cut to the bytes kept, which the system's own path limit would refuse on Windows anyway) or
  // being left out (data under no name, or under a directory's name).
  if (record.Values.NameLength > ziprec::kMaxNameLength) {
    return Fault(walked, "names a path of " + std::to_string(record.Values.NameLength) + " bytes, more than " +
                             std::to_string(ziprec::kMaxNameLength));
  }
  const std::string& name = record.Name.Text;
  if (record.Values.UncompressedSize.Value() > 0 && (name.empty() || name.back() == platform::kPathSeparator)) {
    return Fault(walked, "holds data under no file name");
  }
  return std::string();
}

std::string TStrictReading::Disagreement(TStream32& stream, int64_t localPosition,
                                         const TRecordAt<ziprec::TCentralRecord>& central, bool translateOem,
                                         uint64_t walked) const {
  const ziprec::TCentralRecord& values = central.Values;
  const TNameRules rules{values.VersionMadeBy >> 8, translateOem};
  const TRecordAt<ziprec::TLocalHeader> local = ReadRecordAt<ziprec::TLocalHeader>(stream, localPosition, rules);
  std::string what;
  if (local.Values.NameLength != values.NameLength || local.Name.Text != central.Name.Text) {
    what = "name";
  } else if (local.Values.Method != values.Method) {
    what = "method";
  } else if ((local.Values.Flags & ziprec::kFlagDataDescriptor) != 0) {
    what = DescriptorDisagreement(stream, local.End + values.CompressedSize.Value(), values);
  } else if (local.Values.Crc != values.Crc) {
    what = "CRC";
  } else if (local.Values.CompressedSize.Value() != values.CompressedSize.Value() ||
             local.Values.UncompressedSize.Value() != values.UncompressedSize.Value()) {
    what = "sizes";
  }
  // Two records of one member that tell different stories are two versions of it (a download whose rest
  // came from a newer archive): neither can be trusted.
  return what.empty() ? what : Fault(walked, "and its local header disagree on the " + what);
}

std::string TStrictReading::Missing(uint64_t walked, bool cancelled) const {
  return walked < m_counted && !cancelled ? Fault(walked, "missing") : std::string();
}

std::string TStrictReading::Fault(uint64_t walked, const std::string& what) const {
  return "central record " + std::to_string(walked + 1) + " of " + std::to_string(m_counted) + " " + what;
}
