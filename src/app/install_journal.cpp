#include "app/install_journal.h"

#include <algorithm>
#include <cstdio>

#include "platform/files.h"
#include "zip/crc32.h"

namespace {

// How many path fields each kind carries; -1 for a kind this version does not know.
int FieldCountOf(char kind) {
  switch (kind) {
    case journal::kDirectory: return 1;
    case journal::kStaged:
    case journal::kBackup:
    case journal::kPlaced: return 2;
    case journal::kCommitted: return 0;
    default: return -1;
  }
}

bool IsEscaped(unsigned char c) { return c <= ' ' || c == '%' || c == 0x7F; }

std::string EscapeField(const std::string& field) {
  std::string text;
  for (const char c : field) {
    if (IsEscaped(static_cast<unsigned char>(c))) {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
      text += escape;
    } else {
      text += c;
    }
  }
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// False for a field that no writer of this format makes: a raw byte that must be escaped, or a broken escape.
bool UnescapeField(const std::string& text, std::string& field) {
  field.clear();
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c != '%') {
      if (IsEscaped(static_cast<unsigned char>(c))) return false;
      field += c;
      continue;
    }
    if (at + 2 >= text.size()) return false;
    const int high = HexValue(text[at + 1]);
    const int low = HexValue(text[at + 2]);
    if (high < 0 || low < 0) return false;
    field += static_cast<char>(high * 16 + low);
    at += 2;
  }
  return true;
}

std::string ChecksumText(const std::string& line) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x",
                static_cast<unsigned>(Crc32(0, reinterpret_cast<const uint8_t*>(line.data()), line.size())));
  return text;
}

// A printable form of a field for a fault text: the field as the journal holds it.
std::string Quoted(const std::string& field) { return "\"" + EscapeField(field) + "\""; }

// Checks one whole line (without its line feed); an empty text when it is a record of this format.
std::string ParseLine(const std::string& line, TJournalRecord& record) {
  const size_t lastBlank = line.rfind(' ');
  if (line.size() < 2 || lastBlank == std::string::npos || line[1] != ' ') return "is no record";
  if (line.substr(lastBlank + 1) != ChecksumText(line.substr(0, lastBlank))) return "fails its checksum";
  record = TJournalRecord();
  record.Kind = line[0];
  const int fieldCount = FieldCountOf(record.Kind);
  if (fieldCount < 0) return "is of an unknown kind";
  std::vector<std::string> fields;
  for (size_t at = 2; at < lastBlank;) {
    const size_t end = std::min(line.find(' ', at), lastBlank);
    fields.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  if (static_cast<int>(fields.size()) != fieldCount) return "has the wrong number of fields";
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string& target = i == 0 ? record.First : record.Second;
    if (!UnescapeField(fields[i], target)) return "holds a broken field";
    if (!IsContainedRelativePath(target)) return "names a path outside the extract directory: " + Quoted(target);
  }
  return std::string();
}

}  // namespace

std::string EncodeJournalRecord(const TJournalRecord& record) {
  std::string line(1, record.Kind);
  const int fieldCount = FieldCountOf(record.Kind);
  if (fieldCount >= 1) line += ' ' + EscapeField(record.First);
  if (fieldCount >= 2) line += ' ' + EscapeField(record.Second);
  return line + ' ' + ChecksumText(line) + '\n';
}

TJournalReading DecodeJournal(const std::string& text) {
  TJournalReading reading;
  const std::string header = journal::kHeader;
  // The journal is created and its first line written before any step: a start cut short there did nothing.
  if (text.size() < header.size() && header.compare(0, text.size(), text) == 0) return reading;
  if (text.compare(0, header.size(), header) != 0) {
    reading.Fault = "does not begin with \"" + header.substr(0, header.size() - 1) + "\"";
    return reading;
  }
  size_t at = header.size();
  for (int number = 1;; ++number) {
    const size_t end = text.find('\n', at);
    // What follows the last line feed is a record cut short (or, after a power cut, blocks never written).
    if (end == std::string::npos) break;
    TJournalRecord record;
    const std::string fault = ParseLine(text.substr(at, end - at), record);
    if (!fault.empty()) {
      reading.Records.clear();
      reading.Fault = "record " + std::to_string(number) + " (byte " + std::to_string(at) + ") " + fault;
      return reading;
    }
    reading.Records.push_back(record);
    at = end + 1;
  }
  return reading;
}

bool IsContainedRelativePath(const std::string& path) {
#ifdef _WIN32
  // Windows drops a component's trailing dots and blanks: ". ." names the directory above.
  constexpr const char* kDotsAlone = ". ";
#else
  constexpr const char* kDotsAlone = ".";
#endif
  if (path.empty() || path.find('\0') != std::string::npos || platform::IsAbsolutePath(path)) return false;
#ifdef _WIN32
  // "C:name" is relative to the drive's current directory, "name:stream" a stream of another file.
  if (path.find(':') != std::string::npos) return false;
#endif
  size_t start = 0;
  for (;;) {
    size_t end = path.find(platform::kPathSeparator, start);
#ifdef _WIN32
    end = std::min(end, path.find(platform::kForeignSeparator, start));
#endif
    if (end == std::string::npos) end = path.size();
    const std::string component = path.substr(start, end - start);
    if (component.find_first_not_of(kDotsAlone) == std::string::npos) return false;
    if (end == path.size()) return true;
    start = end + 1;
  }
}
