// Recognition of an archive file: its type from its first bytes, then the end-record search that finds its
// central directory (or, without one, its first local header).
#include <algorithm>

#include "platform/files.h"
#include "rtl/sysutils.h"
#include "zip/record_reader.h"
#include "zip/strict_reading.h"
#include "zip/unbase.h"

namespace {

using ziprec::SignatureForm;

// The blocks in which the first local header is searched for when there is no central directory.
constexpr int64_t kSearchWindow = 32768;
// The span an end record can lie in: the longest comment behind the longest form of the record.
constexpr int64_t kEndRecordSpan = 65535 + ziprec::kEndRecord26Size;
// Recognition looks at this many leading bytes.
constexpr int64_t kRecognitionPrefix = 32767;
// Stub sizes of the ZIP self-extractors: their ZIP data start right after the executable.
constexpr int64_t kZipStubSizes[] = {7612, 25661};
// The cut-off below which a file cannot be an archive.
constexpr int64_t kSmallestArchive = 20;

// Reads a record's fixed part, whole or not at all.
template <size_t Size>
bool ReadFixedPart(TStream32& stream, int64_t position, uint8_t (&bytes)[Size]) {
  return stream.ReadAt(position, bytes, static_cast<int64_t>(Size)) == static_cast<int64_t>(Size);
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

}  // namespace

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
  if (head.size() < 4 || !RecogniseType(head)) return;

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

bool TUnBase::RecogniseType(const std::vector<uint8_t>& head) {
  if (head[0] == 'M' && head[1] == 'Z') {
    for (const int64_t stub : kZipStubSizes) {
      const size_t at = static_cast<size_t>(stub);
      if (at + 4 <= head.size() && ziprec::LocalSignature(&head[at]) != SignatureForm::None) {
        m_arcType = TArcType::atZipExe;
        m_dataStart = stub;
        return true;
      }
    }
    // Other executables (other self-extractor families, or plain programs) are not archives we read.
    return false;
  }
  size_t first = 0;
  while (first < head.size() && head[first] == 0) ++first;
  if (first + 4 > head.size()) return false;
  const uint8_t* p = &head[first];
  if (p[0] != 'P' || (p[1] != 'K' && p[1] != 'L' && p[1] != 'M' && p[1] != 'N')) return false;
  if ((p[2] == 0x47 && p[3] == 0x34) || (p[2] == 0x43 && p[3] == 0x49)) return false;
  if (p[2] == 7 && p[3] == 8) {
    m_arcType = TArcType::atZipDS;
  } else if (p[2] == 1 && p[3] == 2) {
    m_arcType = TArcType::atZipMV;
  } else {
    m_arcType = TArcType::atZip;
  }
  m_dataStart = static_cast<int64_t>(first);
  return true;
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
  if (ReadLocalFixedPart(stream, static_cast<int64_t>(first.LocalHeaderOffset.Low) + m_archiveOffset, local) !=
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
