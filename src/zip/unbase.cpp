#include "zip/unbase.h"

#include <algorithm>

#include "platform/files.h"
#include "rtl/sysutils.h"
#include "zip/member_selection.h"
#include "zip/messages.h"
#include "zip/record_reader.h"
#include "zip/strict_reading.h"

namespace {

using ziprec::kEncryptionHeaderSize;
using ziprec::kFlagEncrypted;

}  // namespace

void TUnBaseHeaderObj::Clear() {
  m_locations.clear();
  m_central.clear();
  m_fileNames.clear();
}

void TUnBaseHeaderObj::AddFileName(const std::string& storedName) {
  const size_t separator = storedName.rfind(platform::kPathSeparator);
  m_fileNames.insert(UpperCase(separator == std::string::npos ? storedName : storedName.substr(separator + 1)));
}

bool TUnBaseHeaderObj::HasFileName(const std::string& fileName) const {
  return m_fileNames.count(UpperCase(fileName)) > 0;
}

void TUnBaseHeaderObj::Add(const TMemberLocation& location, const ziprec::TCentralRecord* central) {
  m_locations.push_back(location);
  if (central != nullptr) m_central.push_back(*central);
}

const ziprec::TCentralRecord* TUnBaseHeaderObj::Central(int index) const {
  return static_cast<size_t>(index) < m_central.size() ? &m_central[static_cast<size_t>(index)] : nullptr;
}

TUnBase::TUnBase() = default;

TUnBase::~TUnBase() = default;

void TUnBase::AddToTotals(const ziprec::TLocalHeader& fields) {
  m_maxDosDateTime = std::max(m_maxDosDateTime, fields.DosDateTime);
  m_totalCompressed += fields.CompressedSize.Value();
  m_totalUncompressed += fields.UncompressedSize.Value();
  if ((fields.Flags & kFlagEncrypted) != 0) m_totalCompressed -= kEncryptionHeaderSize;
}

bool TUnBase::Selected(const std::string& storedName) {
  return MatchesFileSpec(storedName, m_fileSpec, RecurseDirs, m_excludeSpec, [this](const std::string& name) {
    if (OnExcludeFile) OnExcludeFile(*this, name);
  });
}

TNameRules TUnBase::NameRules(int host) const { return TNameRules{host, TranslateOemChar}; }

int TUnBase::ListMembers(TStream32& stream) {
  if (RequireCentralDirectory) {
    const TStrictReading strict = StrictReading();
    std::string fault = strict.EndRecordFault(m_endPosition, m_endRecord, m_archiveSize,
                                              m_headerState.Contains(THeaderType::htCentral));
    if (fault.empty()) fault = WalkCentralDirectory(stream, &strict);
    if (!fault.empty()) {
      m_members.Clear();
      m_totalCompressed = 0;
      m_totalUncompressed = 0;
      m_maxDosDateTime = 0;
      ReportError(std::string(), fault, zipmsg::kIncompleteCentralDirectory, m_volumeName);
    }
    return m_members.Count();
  }
  if (m_headerState == THeaderTypeState::Of(THeaderType::htLocal)) return ListLocalMembers(stream);
  WalkCentralDirectory(stream, nullptr);
  return m_members.Count();
}

int TUnBase::ListLocalMembers(TStream32& stream) {
  if (OnCorruptZipHeader) {
    bool cancel = true;
    OnCorruptZipHeader(*this, m_headerState, cancel);
    if (cancel) return 0;
  }
  int64_t position = m_startOffset;
  uint8_t bytes[ziprec::kLocalHeaderSize] = {};
  if (stream.ReadAt(position, bytes, sizeof bytes) == ziprec::kLocalHeaderSize && ziprec::IsSpanningMarker(bytes)) {
    position += 4;
  }
  while (!m_cancel) {
    const TRecordAt<ziprec::TLocalHeader> header = ReadRecordAt<ziprec::TLocalHeader>(stream, position, NameRules(-1));
    if (!header.Whole()) break;
    const std::string& name = header.Name.Text;
    m_members.AddFileName(name);
    if (!name.empty() && Selected(name)) {
      TMemberLocation location;
      location.StartDisk = 1;
      location.LocalHeaderPosition = position;
      location.ExternalAttributes = 0;  // a local header carries none
      m_members.Add(location, nullptr);
      AddToTotals(header.Values);
    }
    position = header.End + header.Values.CompressedSize.Value();
  }
  return m_members.Count();
}

TMemberHeader TUnBase::ReadLocalHeader(TStream32& stream, int index) {
  const TMemberLocation& location = m_members.Location(index);
  const ziprec::TCentralRecord* central = m_members.Central(index);
  const TRecordAt<ziprec::TLocalHeader> local = ReadRecordAt<ziprec::TLocalHeader>(
      stream, location.LocalHeaderPosition, NameRules(central != nullptr ? central->VersionMadeBy >> 8 : -1));
  stream.Seek(local.End, SeekOrigin::Beginning);

  TMemberHeader member;
  member.Local = local.Values;
  member.Name = local.Name;
  member.ExternalAttributes = location.ExternalAttributes;
  member.Crc = member.Local.Crc;
  if (central != nullptr) {
    // The central record is authoritative for what the local header may leave out: a member streamed
    // with a data descriptor has zero sizes (and CRC) in its local header.
    member.FromCentral = true;
    member.Flags = central->Flags;
    member.Method = central->Method;
    member.CompressedSize = central->CompressedSize.Value();
    member.UncompressedSize = central->UncompressedSize.Value();
    member.VersionMadeBy = central->VersionMadeBy;
    if (central->CompressedSize.Value() != 0 && member.Local.Crc == 0) member.Crc = central->Crc;
  } else {
    member.Flags = member.Local.Flags;
    member.Method = member.Local.Method;
    member.CompressedSize = member.Local.CompressedSize.Value();
    member.UncompressedSize = member.Local.UncompressedSize.Value();
  }
  return member;
}

void TUnBase::SetCancel(bool value) {
  m_cancel = value;
  if (value) ReportError(std::string(), std::string(), zipmsg::kUserCanceled, m_volumeName);
}

void TUnBase::ReportError(const std::string& fileName, const std::string& extendedMsg, int code,
                          const std::string& volumeName) {
  if (m_cancel) code = zipmsg::kUserCanceled;
  if (OnError) OnError(*this, fileName, extendedMsg, volumeName, code);
}
