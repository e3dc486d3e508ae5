// The central directory walk: record after record, the next record is read, its member's local header
// located, the member's bytes claimed, and (strict reading) the record checked; then the member is listed.
#include <iterator>
#include <map>

#include "zip/messages.h"
#include "zip/record_reader.h"
#include "zip/strict_reading.h"
#include "zip/unbase.h"

namespace {

using ziprec::SignatureForm;

// The blocks in which a local header is searched for when the directory does not lead to it.
constexpr int64_t kSearchWindow = 32768;

// Byte ranges of the archive taken by the members listed so far: local header, name, extra field and data.
class TClaimedRanges {
 public:
  // Claims [start, end); false, claiming nothing, when it meets a range claimed before.
  bool Claim(int64_t start, int64_t end) {
    const auto next = m_ranges.lower_bound(start);
    if (next != m_ranges.end() && next->first < end) return false;
    if (next != m_ranges.begin() && std::prev(next)->second > start) return false;
    m_ranges.emplace(start, end);
    return true;
  }

 private:
  std::map<int64_t, int64_t> m_ranges;  // start to end; the ranges never overlap
};

}  // namespace

struct TUnBase::TCentralWalk {
  explicit TCentralWalk(int64_t start) : Position(start) {}
  // The next record's position.
  int64_t Position;
  // What the stated local header offsets are short by; found at the first record.
  int64_t Correction = 0;
  bool FirstCheck = true;
  TClaimedRanges Claimed;
  // Records walked so far.
  uint64_t Walked = 0;
  // Whether a strict walk is over (every counted record read, or a fault), and its fault.
  std::string Fault;
  bool Over = false;
};

struct TUnBase::TLocalPlace {
  int64_t Position = 0;
  bool Found = true;
  // The local header's fixed part; meaningful when found in this file.
  ziprec::TLocalHeader Header;
  bool Checked = false;
};

TStrictReading TUnBase::StrictReading() const {
  const bool zip64 = m_headerState.Contains(THeaderType::htEnding64);
  const uint64_t counted = zip64 ? m_ending64.TotalEntries : m_endRecord.TotalEntries;
  // The directory ends where the records behind it begin: the ZIP64 end record when there is one.
  const int64_t directoryEnd = zip64 ? m_endPosition - ziprec::kLocatorSize - ziprec::kEnding64Size : m_endPosition;
  return TStrictReading(counted, directoryEnd);
}

std::string TUnBase::WalkCentralDirectory(TStream32& stream, const TStrictReading* strict) {
  TCentralWalk walk(m_startOffset);
  // A walk per disk of the directory, as the end record numbers them (one for an ordinary archive); a
  // strict walk reads one file, so one pass.
  const int passes = strict != nullptr ? 1 : m_endRecord.ThisDisk - m_endRecord.CentralDirectoryDisk + 1;
  for (int pass = 0; pass < passes && !walk.Over; ++pass) {
    while (WalkNextRecord(stream, walk, strict)) {
    }
  }
  if (strict == nullptr || walk.Over) return walk.Fault;
  return strict->Missing(walk.Walked, m_cancel);
}

bool TUnBase::WalkNextRecord(TStream32& stream, TCentralWalk& walk, const TStrictReading* strict) {
  // Ends the whole walk, with the strict reading's fault or after its last counted record.
  const auto end = [&walk](std::string fault) {
    walk.Fault = std::move(fault);
    walk.Over = true;
    return false;
  };
  if (strict != nullptr && walk.Walked == strict->Counted()) return end(strict->RecordsBeyond(stream, walk.Position));
  const TRecordAt<ziprec::TCentralRecord> record =
      ReadRecordAt<ziprec::TCentralRecord>(stream, walk.Position, NameRules(-1));
  if (!record.Whole()) return strict != nullptr ? end(strict->Unreadable(record, walk.Walked)) : false;
  if (m_cancel) return false;
  walk.Position = record.End;
  if (strict != nullptr) {
    std::string fault = strict->Unusable(record, walk.Walked);
    if (!fault.empty()) return end(std::move(fault));
  }
  m_members.AddFileName(record.Name.Text);
  const bool selected = Selected(record.Name.Text);
  const TLocalPlace place = LocateLocalHeader(stream, walk, record.Values);
  // Every record, selected or not, claims the bytes of its member, so that no choice of FileSpec lets one
  // member's data be written twice.
  const bool usable = place.Found && (!place.Checked || ClaimMember(walk, place, record.Values));
  if (strict != nullptr && place.Found && place.Checked) {
    std::string fault = strict->Disagreement(stream, place.Position, record, TranslateOemChar, walk.Walked);
    if (!fault.empty()) return end(std::move(fault));
  }
  ++walk.Walked;
  if (selected) ListCentralRecord(record, place, usable);
  return true;
}

TUnBase::TLocalPlace TUnBase::LocateLocalHeader(TStream32& stream, TCentralWalk& walk,
                                                const ziprec::TCentralRecord& record) {
  const int64_t stored = static_cast<int64_t>(record.LocalHeaderOffset.Low) + m_archiveOffset +
                         (static_cast<int64_t>(record.LocalHeaderOffset.High) << 32);
  TLocalPlace place;
  place.Position = stored + walk.Correction;
  // The members of a spanned set lie on other volumes: their local headers cannot be checked here.
  if (IsSpannedType()) return place;
  place.Checked = true;
  uint8_t local[ziprec::kLocalHeaderSize] = {};
  place.Found = ReadLocalFixedPart(stream, place.Position, local) != SignatureForm::None;
  // Offsets short by a prefix (data in front of the archive that its writer did not count) are corrected
  // once, from the first record of the walk, for the whole walk. It must be the first record whatever the
  // selection: searching forward from a later member's offset would find an earlier member's header (the
  // first one behind the prefix) and take it for the later one.
  if (!place.Found && walk.FirstCheck) {
    const int64_t at = SearchLocalHeader(stream, stored + 1);
    if (at >= 0 && ReadLocalFixedPart(stream, at, local) != SignatureForm::None) {
      walk.Correction = at - stored;
      place.Position = at;
      place.Found = true;
    }
  }
  walk.FirstCheck = false;
  if (place.Found) place.Header = ziprec::ParseLocalHeader(local);
  return place;
}

bool TUnBase::ClaimMember(TCentralWalk& walk, const TLocalPlace& place, const ziprec::TCentralRecord& record) {
  // A record whose member would share bytes with one listed before it is damage: several records for one
  // member's data, or a size that runs over the next member.
  const int64_t end = place.Position + ziprec::kLocalHeaderSize + place.Header.NameLength +
                      place.Header.ExtraLength + record.CompressedSize.Value();
  return walk.Claimed.Claim(place.Position, end);
}

void TUnBase::ListCentralRecord(const TRecordAt<ziprec::TCentralRecord>& record, const TLocalPlace& place,
                                bool usable) {
  if (!usable) {
    ReportError(record.Name.Text, std::string(), zipmsg::kBadOffsetToLocalHeader, m_volumeName);
    return;
  }
  TMemberLocation location;
  location.StartDisk = static_cast<uint16_t>(record.Values.DiskNumberStart + (m_arcType == TArcType::atZipDS ? 1 : 0));
  location.ExternalAttributes = record.Values.ExternalAttributes;
  location.LocalHeaderPosition = place.Position;
  m_members.Add(location, &record.Values);
  AddToTotals(record.Values);
}

int64_t TUnBase::SearchLocalHeader(TStream32& stream, int64_t from) {
  std::vector<uint8_t> buffer(static_cast<size_t>(kSearchWindow));
  const int64_t n = stream.ReadAt(from, buffer.data(), kSearchWindow);
  for (int64_t i = 0; i + 4 <= n; ++i) {
    if (ziprec::LocalSignature(&buffer[static_cast<size_t>(i)]) == SignatureForm::None) continue;
    uint8_t header[ziprec::kLocalHeaderSize] = {};
    if (ReadLocalFixedPart(stream, from + i, header) != SignatureForm::None) return from + i;
  }
  return -1;
}
