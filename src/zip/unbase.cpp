#include "zip/unbase.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "platform/codepage.h"
#include "platform/files.h"
#include "rtl/sysutils.h"
#include "zip/member_selection.h"
#include "zip/messages.h"

namespace {

using ziprec::kEncryptionHeaderSize;
using ziprec::kFlagDataDescriptor;
using ziprec::kFlagEncrypted;
using ziprec::kFlagUtf8Name;
using ziprec::kHostUnix;
using ziprec::SignatureForm;

// The blocks in which a local header is searched for when the directory does not lead to it.
constexpr int64_t kSearchWindow = 32768;
// The span an end record can lie in: the longest comment behind the longest form of the record.
constexpr int64_t kEndRecordSpan = 65535 + ziprec::kEndRecord26Size;
// Recognition looks at this many leading bytes.
constexpr int64_t kRecognitionPrefix = 32767;
// Stub sizes of the ZIP self-extractors: their ZIP data start right after the executable.
constexpr int64_t kZipStubSizes[] = {7612, 25661};
// The cut-off below which a file cannot be an archive.
constexpr int64_t kSmallestArchive = 20;

// Well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF) with at least one byte beyond
// ASCII: in a name from a Unix host, an encoding no legacy code page's names are likely to fall into.
bool IsUtf8BeyondAscii(const std::string& text) {
  bool beyondAscii = false;
  for (size_t i = 0; i < text.size();) {
    const auto byte = [&text](size_t at) { return static_cast<uint8_t>(text[at]); };
    const uint8_t lead = byte(i);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    beyondAscii = true;
    const size_t length = lead < 0xC2 ? 0 : lead <= 0xDF ? 2 : lead <= 0xEF ? 3 : lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return false;
    }
    const uint8_t second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F)) {
      return false;
    }
    i += length;
  }
  return beyondAscii;
}

// Reads a record's fixed part, whole or not at all.
template <size_t Size>
bool ReadFixedPart(TStream32& stream, int64_t position, uint8_t (&bytes)[Size]) {
  return stream.ReadAt(position, bytes, static_cast<int64_t>(Size)) == static_cast<int64_t>(Size);
}

// Reads the fixed part of a local header and tells its signature's form: None when it is cut or carries no
// local signature. An enciphered header is deciphered in place.
SignatureForm ReadLocalRecord(TStream32& stream, int64_t position, uint8_t (&bytes)[ziprec::kLocalHeaderSize]) {
  if (!ReadFixedPart(stream, position, bytes)) return SignatureForm::None;
  const SignatureForm form = ziprec::LocalSignature(bytes);
  if (form == SignatureForm::Enciphered) ziprec::DecipherRecordBody(bytes, ziprec::kLocalHeaderSize - 4);
  return form;
}

// The end record whose first bytes (up to the 26 of its longer form) are in bytes, deciphered in place when
// enciphered.
ziprec::TEndRecord ParseEndBytes(uint8_t (&bytes)[ziprec::kEndRecord26Size]) {
  if (ziprec::EndSignature(bytes) == SignatureForm::Enciphered) {
    const bool variant26 = ziprec::IsEndRecord26(bytes);
    ziprec::DecipherRecordBody(bytes, variant26 ? ziprec::kEndRecord26Size - 4 : ziprec::kEndRecordSize - 4);
  }
  return ziprec::ParseEndRecord(bytes);
}

std::string LowerExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t separator = path.find_last_of("\\/");
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return std::string();
  return LowerCase(path.substr(dot));
}

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

void TUnBase::SetArchiveFile(const std::string& name) {
  if (!platform::FileExists(name)) {
    m_arcType = TArcType::atNA;
    m_archiveFile.clear();
    return;
  }
  m_archiveFile = name;
  std::replace(m_archiveFile.begin(), m_archiveFile.end(), platform::kForeignSeparator, platform::kPathSeparator);
  TFileStream32 stream(m_archiveFile, TFileStream32::Mode::OpenReadShared);
  if (!stream.IsOpen()) {
    m_arcType = TArcType::atNA;
    return;
  }
  Recognise(stream);
}

void TUnBase::SetArcType(TArcType /*value*/) {
  if (m_archiveFile.empty()) return;
  TFileStream32 stream(m_archiveFile, TFileStream32::Mode::OpenReadShared);
  if (!stream.IsOpen()) {
    m_arcType = TArcType::atFileOpenErr;
    return;
  }
  Recognise(stream);
}

void TUnBase::Recognise(TStream32& stream) {
  m_archiveOffset = 0;
  m_startOffset = -1;
  m_headerState.Clear();
  m_endPosition = -1;
  m_dataStart = 0;
  m_archiveSize = stream.Size();
  m_arcType = TArcType::atNA;
  if (m_archiveSize < kSmallestArchive) return;

  std::vector<uint8_t> head(static_cast<size_t>(std::min(m_archiveSize, kRecognitionPrefix)));
  const int64_t got = stream.ReadAt(0, head.data(), static_cast<int64_t>(head.size()));
  head.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
  if (head.size() < 4) return;

  if (head[0] == 'M' && head[1] == 'Z') {
    for (const int64_t stub : kZipStubSizes) {
      const size_t at = static_cast<size_t>(stub);
      if (at + 4 <= head.size() && ziprec::LocalSignature(&head[at]) != SignatureForm::None) {
        m_arcType = TArcType::atZipExe;
        m_dataStart = stub;
        break;
      }
    }
    // Other executables (other self-extractor families, or plain programs) are not archives we read.
    if (m_arcType != TArcType::atZipExe) return;
  } else {
    size_t first = 0;
    while (first < head.size() && head[first] == 0) ++first;
    if (first + 4 > head.size()) return;
    const uint8_t* p = &head[first];
    if (p[0] != 'P' || (p[1] != 'K' && p[1] != 'L' && p[1] != 'M' && p[1] != 'N')) return;
    if ((p[2] == 0x47 && p[3] == 0x34) || (p[2] == 0x43 && p[3] == 0x49)) return;
    if (p[2] == 7 && p[3] == 8) {
      m_arcType = TArcType::atZipDS;
    } else if (p[2] == 1 && p[3] == 2) {
      m_arcType = TArcType::atZipMV;
    } else {
      m_arcType = TArcType::atZip;
    }
    m_dataStart = static_cast<int64_t>(first);
  }

  if (IsSpannedType()) {
    if (m_headerState.Empty()) m_headerState = THeaderTypeState::Of(THeaderType::htLocal);
  } else {
    m_startOffset = LocateCentralDirectory(stream);
    if (!m_headerState.Contains(THeaderType::htLocal) && m_startOffset == 0) {
      m_startOffset = m_dataStart;
      m_headerState.Include(THeaderType::htLocal);
    }
  }
  if (m_startOffset == -1) m_startOffset = 0;
  if (m_arcType == TArcType::atZip && LowerExtension(m_archiveFile) == ".jar") m_arcType = TArcType::atJar;
}

int64_t TUnBase::LocateCentralDirectory(TStream32& stream) {
  const int64_t size = stream.Size();
  if (size <= 0) return 0;
  const int64_t endPosition = FindEndRecord(stream, size);
  if (endPosition < 0) return 0;
  ReadEndRecords(stream, endPosition);

  // Where the end record says the directory is, and otherwise right in front of the end record: an
  // archive with data prepended (a self-extractor stub) keeps offsets that are short by the prefix.
  const int64_t behindEnd = endPosition - static_cast<int64_t>(m_endRecord.CentralDirectorySize);
  uint8_t record[ziprec::kCentralRecordSize] = {};
  int64_t central = StatedCentralPosition(endPosition);
  if (!ReadFixedPart(stream, central, record)) {
    central = behindEnd;
    if (!ReadFixedPart(stream, central, record)) return 0;
  }
  if (ziprec::CentralSignature(record) != SignatureForm::None) {
    m_archiveOffset = 0;
    return AcceptCentralDirectory(stream, central, record);
  }
  if (!ReadFixedPart(stream, behindEnd, record)) return 0;
  if (ziprec::CentralSignature(record) != SignatureForm::None) {
    m_archiveOffset = behindEnd - static_cast<int64_t>(static_cast<uint32_t>(m_endRecord.CentralDirectoryOffset));
    return AcceptCentralDirectory(stream, behindEnd, record);
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(kSearchWindow, size - 1)));
  return FindFirstLocalHeader(stream, buffer);
}

int64_t TUnBase::FindEndRecord(TStream32& stream, int64_t fileSize) {
  const int64_t span = std::min(kEndRecordSpan, fileSize - 1);
  const int64_t spanStart = fileSize - span;
  std::vector<uint8_t> window(static_cast<size_t>(span));
  if (stream.ReadAt(spanStart, window.data(), span) < span) return -1;
  // Backwards from the last whole signature down to the window's second byte. A comment may hold the
  // signature too (an archive inside the comment, or plain chance): the end record is the candidate whose
  // comment ends where the file does. Without one, the last candidate is taken, as a record whose comment
  // was cut or that has bytes behind it.
  int64_t last = -1;
  for (int64_t i = span - 4; i >= 1; --i) {
    const uint8_t* candidate = &window[static_cast<size_t>(i)];
    if (ziprec::EndSignature(candidate) == SignatureForm::None) continue;
    if (last < 0) last = spanStart + i;
    uint8_t bytes[ziprec::kEndRecord26Size] = {};
    std::copy_n(candidate, std::min<int64_t>(span - i, ziprec::kEndRecord26Size), bytes);
    const ziprec::TEndRecord record = ParseEndBytes(bytes);
    const int64_t recordSize = record.Variant26 ? ziprec::kEndRecord26Size : ziprec::kEndRecordSize;
    if (spanStart + i + recordSize + record.CommentLength == fileSize) return spanStart + i;
  }
  return last;
}

void TUnBase::ReadEndRecords(TStream32& stream, int64_t endPosition) {
  m_endPosition = endPosition;
  m_headerState = THeaderTypeState::Of(THeaderType::htEnding);
  uint8_t endBytes[ziprec::kEndRecord26Size] = {};
  stream.ReadAt(endPosition, endBytes, sizeof endBytes);
  m_endRecord = ParseEndBytes(endBytes);
  m_commentPosition = endPosition + (m_endRecord.Variant26 ? ziprec::kEndRecord26Size : ziprec::kEndRecordSize);

  // The ZIP64 locator right in front of the end record, and the ZIP64 end record it points past.
  uint8_t locatorBytes[ziprec::kLocatorSize] = {};
  if (endPosition < ziprec::kLocatorSize || !ReadFixedPart(stream, endPosition - ziprec::kLocatorSize, locatorBytes) ||
      !ziprec::IsLocatorSignature(locatorBytes)) {
    return;
  }
  m_headerState.Include(THeaderType::htLocator);
  m_locator = ziprec::ParseLocator(locatorBytes);
  uint8_t ending64Bytes[ziprec::kEnding64Size] = {};
  const int64_t ending64Position = endPosition - ziprec::kLocatorSize - ziprec::kEnding64Size;
  if (ending64Position >= 0 && ReadFixedPart(stream, ending64Position, ending64Bytes) &&
      ziprec::IsEnding64Signature(ending64Bytes)) {
    m_headerState.Include(THeaderType::htEnding64);
    m_ending64 = ziprec::ParseEnding64(ending64Bytes);
  }
}

int64_t TUnBase::StatedCentralPosition(int64_t endPosition) const {
  if (m_endRecord.Variant26) return static_cast<int64_t>(m_endRecord.CentralDirectoryOffset);
  if (m_headerState.Contains(THeaderType::htEnding64)) {
    return static_cast<int64_t>(m_locator.Ending64Offset - m_ending64.CentralDirectorySize);
  }
  return endPosition - static_cast<int64_t>(m_endRecord.CentralDirectorySize);
}

int64_t TUnBase::AcceptCentralDirectory(TStream32& stream, int64_t central, uint8_t (&record)[ziprec::kCentralRecordSize]) {
  m_headerState.Include(THeaderType::htCentral);
  if (ziprec::CentralSignature(record) == SignatureForm::Enciphered) {
    ziprec::DecipherRecordBody(record, ziprec::kCentralRecordSize - 4);
  }
  const ziprec::TCentralRecord first = ziprec::ParseCentralRecord(record);
  uint8_t local[ziprec::kLocalHeaderSize] = {};
  if (ReadLocalRecord(stream, static_cast<int64_t>(first.LocalHeaderOffset.Low) + m_archiveOffset, local) !=
      SignatureForm::None) {
    m_headerState.Include(THeaderType::htLocal);
  }
  return central;
}

int64_t TUnBase::FindFirstLocalHeader(TStream32& stream, std::vector<uint8_t>& buffer) {
  // No central directory: the first local header in the first four window-sized blocks. A signature that
  // straddles two blocks is not seen.
  const int64_t window = static_cast<int64_t>(buffer.size());
  for (int64_t block = 0; block < 4; ++block) {
    const int64_t n = stream.ReadAt(block * window, buffer.data(), window);
    for (int64_t i = 0; i + 4 <= n; ++i) {
      if (ziprec::LocalSignature(&buffer[static_cast<size_t>(i)]) != SignatureForm::None) {
        m_headerState = THeaderTypeState::Of(THeaderType::htLocal);
        return block * window + i;
      }
    }
    if (n < window) break;
  }
  return -1;
}

std::vector<uint8_t> TUnBase::ReadNameAndExtra(TStream32& stream, int64_t namePosition,
                                              const ziprec::TLocalHeader& fields, bool enciphered, int host) {
  std::string name(std::min<size_t>(fields.NameLength, ziprec::kMaxNameLength), '\0');
  const int64_t gotName = stream.ReadAt(namePosition, name.data(), static_cast<int64_t>(name.size()));
  name.resize(static_cast<size_t>(std::max<int64_t>(gotName, 0)));
  if (enciphered) ziprec::DecipherName(reinterpret_cast<uint8_t*>(name.data()), static_cast<int64_t>(name.size()));
  // The extra field follows the whole stored name, even when only its first 255 bytes are kept.
  std::vector<uint8_t> extra(fields.ExtraLength);
  const int64_t gotExtra = stream.ReadAt(namePosition + fields.NameLength, extra.data(), fields.ExtraLength);
  extra.resize(static_cast<size_t>(std::max<int64_t>(gotExtra, 0)));
  m_storedName = MakeStoredName(name, fields.Flags, host, extra);
  return extra;
}

void TUnBase::AddToTotals(const ziprec::TLocalHeader& fields) {
  m_maxDosDateTime = std::max(m_maxDosDateTime, fields.DosDateTime);
  m_totalCompressed += fields.CompressedSize.Value();
  m_totalUncompressed += fields.UncompressedSize.Value();
  if ((fields.Flags & kFlagEncrypted) != 0) m_totalCompressed -= kEncryptionHeaderSize;
}

std::string TUnBase::MakeStoredName(const std::string& raw, uint16_t flags, int host,
                                    const std::vector<uint8_t>& extra) {
  const std::string unicodePath = ziprec::UnicodePath(extra.data(), static_cast<int64_t>(extra.size()), raw);
  // The system reads a path up to its first zero byte: a name that went on past one would be checked,
  // matched and numbered as one path and written as another (and the search for a free temporary name
  // beside it would never end, every candidate being the existing directory in front of the zero).
  const std::string& meant = unicodePath.empty() ? raw : unicodePath;
  std::string name = meant.substr(0, meant.find('\0'));
  m_storedNameHeld = true;
  // A Unix host writes names in its locale's encoding, UTF-8 nowadays, without saying so.
  if ((flags & kFlagUtf8Name) != 0 || !unicodePath.empty() || (host == kHostUnix && IsUtf8BeyondAscii(name))) {
    const std::string utf8 = name;
    m_storedNameHeld = platform::Utf8ToSystem(utf8, name);
  } else if (TranslateOemChar) {
    name = platform::OemToSystem(name);
  }
  std::replace(name.begin(), name.end(), platform::kForeignSeparator, platform::kPathSeparator);
  return name;
}

bool TUnBase::Selected(const std::string& storedName) {
  return MatchesFileSpec(storedName, m_fileSpec, RecurseDirs, m_excludeSpec, [this](const std::string& name) {
    if (OnExcludeFile) OnExcludeFile(*this, name);
  });
}

int64_t TUnBase::SearchLocalHeader(TStream32& stream, int64_t from) {
  std::vector<uint8_t> buffer(static_cast<size_t>(kSearchWindow));
  const int64_t n = stream.ReadAt(from, buffer.data(), kSearchWindow);
  for (int64_t i = 0; i + 4 <= n; ++i) {
    if (ziprec::LocalSignature(&buffer[static_cast<size_t>(i)]) == SignatureForm::None) continue;
    uint8_t header[ziprec::kLocalHeaderSize] = {};
    if (ReadLocalRecord(stream, from + i, header) != SignatureForm::None) return from + i;
  }
  return -1;
}

int TUnBase::ListMembers(TStream32& stream) {
  if (RequireCentralDirectory) {
    std::string fault = EndRecordFault();
    if (fault.empty()) fault = WalkCentralDirectory(stream, /*strict=*/true);
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
  return ListCentralMembers(stream);
}

int TUnBase::ListCentralMembers(TStream32& stream) {
  WalkCentralDirectory(stream, /*strict=*/false);
  return m_members.Count();
}

uint64_t TUnBase::CountedRecords() const {
  return m_headerState.Contains(THeaderType::htEnding64) ? m_ending64.TotalEntries : m_endRecord.TotalEntries;
}

std::string TUnBase::EndRecordFault() const {
  if (m_endPosition < 0) return "no end record";
  const int64_t endSize = m_endRecord.Variant26 ? ziprec::kEndRecord26Size : ziprec::kEndRecordSize;
  if (m_endPosition + endSize + m_endRecord.CommentLength > m_archiveSize) return "end record or its comment cut";
  // An empty archive has no central record to find; every other needs one where the end record says.
  if (CountedRecords() > 0 && !m_headerState.Contains(THeaderType::htCentral)) {
    return "no central directory where the end record puts it";
  }
  return std::string();
}

std::string TUnBase::WalkCentralDirectory(TStream32& stream, bool strict) {
  int64_t position = m_startOffset;
  int64_t correction = 0;
  bool firstCheck = true;
  TClaimedRanges claimed;
  const uint64_t counted = CountedRecords();
  // The directory ends where the records behind it begin: the ZIP64 end record when there is one.
  const int64_t directoryEnd = m_headerState.Contains(THeaderType::htEnding64)
                                   ? m_endPosition - ziprec::kLocatorSize - ziprec::kEnding64Size
                                   : m_endPosition;
  uint64_t walked = 0;
  const auto fault = [&walked, counted](const std::string& what) {
    return "central record " + std::to_string(walked + 1) + " of " + std::to_string(counted) + " " + what;
  };
  // A walk per disk of the directory, as the end record numbers them (one for an ordinary archive); a
  // strict walk reads one file, so one pass.
  const int passes = strict ? 1 : m_endRecord.ThisDisk - m_endRecord.CentralDirectoryDisk + 1;
  for (int pass = 0; pass < passes; ++pass) {
    for (;;) {
      if (strict && walked == counted) {
        uint8_t next[4] = {};
        if (position + ziprec::kCentralRecordSize <= directoryEnd && stream.ReadAt(position, next, 4) == 4 &&
            ziprec::CentralSignature(next) != SignatureForm::None) {
          return "more central records than the end record counts (" + std::to_string(counted) + ")";
        }
        return std::string();
      }
      uint8_t bytes[ziprec::kCentralRecordSize] = {};
      const int64_t got = stream.ReadAt(position, bytes, sizeof bytes);
      const SignatureForm form = got >= 4 ? ziprec::CentralSignature(bytes) : SignatureForm::None;
      if (form == SignatureForm::None) {
        if (strict) return fault(got < 4 ? "cut" : "without its signature");
        break;
      }
      if (got < ziprec::kCentralRecordSize) {
        if (strict) return fault("cut");
        break;
      }
      if (m_cancel) break;
      if (form == SignatureForm::Enciphered) ziprec::DecipherRecordBody(bytes, ziprec::kCentralRecordSize - 4);
      ziprec::TCentralRecord record = ziprec::ParseCentralRecord(bytes);
      const int64_t namePosition = position + ziprec::kCentralRecordSize;
      const std::vector<uint8_t> extra =
          ReadNameAndExtra(stream, namePosition, record, form == SignatureForm::Enciphered, record.VersionMadeBy >> 8);
      ziprec::ApplyCentralExtra(record, extra.data(), static_cast<int64_t>(extra.size()));
      position = namePosition + record.NameLength + record.ExtraLength + record.CommentLength;
      if (strict && position > directoryEnd) return fault("runs past the end record");
      // A member that cannot be written under its own name fails rather than landing under another one (its
      // name cut to the bytes kept, which the system's own path limit would refuse on Windows anyway) or
      // being left out (data under no name, or under a directory's name).
      if (strict && record.NameLength > ziprec::kMaxNameLength) {
        return fault("names a path of " + std::to_string(record.NameLength) + " bytes, more than " +
                     std::to_string(ziprec::kMaxNameLength));
      }
      if (strict && record.UncompressedSize.Value() > 0 &&
          (m_storedName.empty() || m_storedName.back() == platform::kPathSeparator)) {
        return fault("holds data under no file name");
      }

      const std::string centralName = m_storedName;
      m_members.AddFileName(centralName);
      const bool selected = Selected(centralName);
      const int64_t stored = static_cast<int64_t>(record.LocalHeaderOffset.Low) + m_archiveOffset +
                             (static_cast<int64_t>(record.LocalHeaderOffset.High) << 32);
      int64_t localPosition = stored + correction;
      bool found = true;
      bool overlaps = false;
      // The members of a spanned set lie on other volumes: their local headers cannot be checked here.
      if (!IsSpannedType()) {
        uint8_t local[ziprec::kLocalHeaderSize] = {};
        found = ReadLocalRecord(stream, localPosition, local) != SignatureForm::None;
        // Offsets short by a prefix (data in front of the archive that its writer did not count) are
        // corrected once, from the first record of the walk, for the whole walk. It must be the first
        // record whatever the selection: searching forward from a later member's offset would find an
        // earlier member's header (the first one behind the prefix) and take it for the later one.
        if (!found && firstCheck) {
          const int64_t at = SearchLocalHeader(stream, stored + 1);
          if (at >= 0 && ReadLocalRecord(stream, at, local) != SignatureForm::None) {
            correction = at - stored;
            localPosition = at;
            found = true;
          }
        }
        firstCheck = false;
        // Every record, selected or not, claims the bytes of its member; a record whose member would
        // share bytes with one listed before it is damage (several records for one member's data, or a
        // size that runs over the next member), whatever the selection, so that no choice of FileSpec
        // lets one member's data be written twice.
        if (found) {
          const ziprec::TLocalHeader header = ziprec::ParseLocalHeader(local);
          const int64_t end = localPosition + ziprec::kLocalHeaderSize + header.NameLength + header.ExtraLength +
                              record.CompressedSize.Value();
          overlaps = !claimed.Claim(localPosition, end);
          // Two records of one member that tell different stories are two versions of it (a download whose
          // rest came from a newer archive): neither can be trusted.
          const std::string disagreement = strict ? Disagreement(stream, localPosition, record, centralName) : "";
          if (!disagreement.empty()) return fault("and its local header disagree on the " + disagreement);
        }
      }
      m_storedName = centralName;
      ++walked;
      if (!selected) continue;
      if (found && !overlaps) {
        TMemberLocation location;
        location.StartDisk =
            static_cast<uint16_t>(record.DiskNumberStart + (m_arcType == TArcType::atZipDS ? 1 : 0));
        location.ExternalAttributes = record.ExternalAttributes;
        location.LocalHeaderPosition = localPosition;
        m_members.Add(location, &record);
        AddToTotals(record);
      } else {
        ReportError(m_storedName, std::string(), zipmsg::kBadOffsetToLocalHeader, m_volumeName);
      }
    }
  }
  if (strict && walked < counted && !m_cancel) return fault("missing");
  return std::string();
}

std::string TUnBase::Disagreement(TStream32& stream, int64_t localPosition, const ziprec::TCentralRecord& central,
                                  const std::string& centralName) {
  uint8_t bytes[ziprec::kLocalHeaderSize] = {};
  const SignatureForm form = ReadLocalRecord(stream, localPosition, bytes);
  ziprec::TLocalHeader local = ziprec::ParseLocalHeader(bytes);
  const int64_t namePosition = localPosition + ziprec::kLocalHeaderSize;
  const std::vector<uint8_t> extra =
      ReadNameAndExtra(stream, namePosition, local, form == SignatureForm::Enciphered, central.VersionMadeBy >> 8);
  ziprec::ApplyLocalExtra(local, extra.data(), static_cast<int64_t>(extra.size()));
  if (local.NameLength != central.NameLength || m_storedName != centralName) return "name";
  if (local.Method != central.Method) return "method";
  if ((local.Flags & kFlagDataDescriptor) != 0) {
    // A streamed member's CRC and sizes follow its data, in a descriptor with or without a signature and
    // with 4-byte or (ZIP64) 8-byte sizes.
    uint8_t descriptor[24] = {};
    const int64_t dataEnd = namePosition + local.NameLength + local.ExtraLength + central.CompressedSize.Value();
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
  if (local.Crc != central.Crc) return "CRC";
  if (local.CompressedSize.Value() != central.CompressedSize.Value() ||
      local.UncompressedSize.Value() != central.UncompressedSize.Value()) {
    return "sizes";
  }
  return std::string();
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
    const SignatureForm form = ReadLocalRecord(stream, position, bytes);
    if (form == SignatureForm::None) break;
    ziprec::TLocalHeader header = ziprec::ParseLocalHeader(bytes);
    const int64_t namePosition = position + ziprec::kLocalHeaderSize;
    const std::vector<uint8_t> extra =
        ReadNameAndExtra(stream, namePosition, header, form == SignatureForm::Enciphered, /*host=*/-1);
    ziprec::ApplyLocalExtra(header, extra.data(), static_cast<int64_t>(extra.size()));
    m_members.AddFileName(m_storedName);
    if (!m_storedName.empty() && Selected(m_storedName)) {
      TMemberLocation location;
      location.StartDisk = 1;
      location.LocalHeaderPosition = position;
      location.ExternalAttributes = 0;  // a local header carries none
      m_members.Add(location, nullptr);
      AddToTotals(header);
    }
    position = namePosition + header.NameLength + header.ExtraLength + header.CompressedSize.Value();
  }
  return m_members.Count();
}

TUnBase::TMemberHeader TUnBase::ReadLocalHeader(TStream32& stream, int index) {
  TMemberHeader member;
  const TMemberLocation& location = m_members.Location(index);
  uint8_t bytes[ziprec::kLocalHeaderSize] = {};
  const SignatureForm form = ReadLocalRecord(stream, location.LocalHeaderPosition, bytes);
  member.Local = ziprec::ParseLocalHeader(bytes);
  const int64_t namePosition = location.LocalHeaderPosition + ziprec::kLocalHeaderSize;
  const ziprec::TCentralRecord* central = m_members.Central(index);
  const std::vector<uint8_t> extra = ReadNameAndExtra(stream, namePosition, member.Local,
                                                      form == SignatureForm::Enciphered,
                                                      central != nullptr ? central->VersionMadeBy >> 8 : -1);
  ziprec::ApplyLocalExtra(member.Local, extra.data(), static_cast<int64_t>(extra.size()));
  stream.Seek(namePosition + member.Local.NameLength + member.Local.ExtraLength, SeekOrigin::Beginning);

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
