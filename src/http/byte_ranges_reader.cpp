#include "http/byte_ranges_reader.h"

#include <algorithm>
#include <cstring>

#include "http/content_range.h"
#include "net/exceptions.h"
#include "rtl/sysutils.h"

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

[[noreturn]] void Fail(const std::string& what) { throw EIdException("The multipart body " + what); }

// The boundary of a Content-Type "multipart/byteranges; boundary=..." (quoted or not); empty for any other type.
std::string ByteRangesBoundary(const std::string& contentType) {
  const std::string lower = Lower(contentType);
  if (Trimmed(lower.substr(0, lower.find(';'))) != "multipart/byteranges") return "";
  const size_t key = lower.find("boundary=");
  if (key == std::string::npos) return "";
  std::string boundary = contentType.substr(key + 9);
  if (!boundary.empty() && boundary.front() == '"') {
    const size_t close = boundary.find('"', 1);
    return close == std::string::npos ? "" : boundary.substr(1, close - 1);
  }
  return Trimmed(boundary.substr(0, boundary.find(';')));
}

}  // namespace

std::string RangeHeaderValue(const std::vector<TByteRange>& ranges) {
  std::string value = "bytes=";
  for (const TByteRange& range : ranges) {
    if (value.size() > 6) value += ',';
    value += std::to_string(range.First) + "-" + std::to_string(range.Last);
  }
  return value;
}

TByteRangesReader::TByteRangesReader(const TIdHTTPResponse& response, std::vector<TByteRange> asked, int64_t total,
                                     TSink sink)
    : m_response(response), m_asked(std::move(asked)), m_total(total), m_sink(std::move(sink)) {}

void TByteRangesReader::Finish() const {
  if (m_state == State::Done) return;
  Fail(m_state == State::Data || m_state == State::Single ? "ended inside a part"
                                                          : "ended before its closing boundary");
}

void TByteRangesReader::Restart() {
  m_state = State::Head;
  m_taken = 0;
  m_line.clear();
  m_lines = 0;
  m_received.clear();
}

int64_t TByteRangesReader::Read(void*, int64_t) { return 0; }

int64_t TByteRangesReader::Seek(int64_t offset, SeekOrigin origin) {
  if (origin == SeekOrigin::Beginning && offset == 0) Restart();
  return m_taken;
}

void TByteRangesReader::SetSize(int64_t size) {
  if (size == 0) Restart();
}

int64_t TByteRangesReader::Write(const void* buffer, int64_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  int64_t at = 0;
  if (m_state == State::Head && count > 0) TakeHead();
  while (at < count) {
    if (m_state == State::Done) {
      if (m_boundary.empty()) Fail("has bytes after its part");
      break;
    }
    if (m_state == State::Data || m_state == State::Single) {
      if (TakeData(bytes, at, count)) m_state = m_state == State::Single ? State::Done : State::DataEnd;
      continue;
    }
    const auto* end = static_cast<const uint8_t*>(std::memchr(bytes + at, '\n', static_cast<size_t>(count - at)));
    const int64_t piece = end != nullptr ? end - (bytes + at) : count - at;
    m_line.append(reinterpret_cast<const char*>(bytes + at), static_cast<size_t>(piece));
    at += piece;
    if (m_line.size() > kMaxLineBytes) Fail("has a line longer than " + std::to_string(kMaxLineBytes) + " bytes");
    if (end == nullptr) break;
    ++at;  // the line feed
    if (!m_line.empty() && m_line.back() == '\r') m_line.pop_back();
    const std::string line = std::move(m_line);
    m_line.clear();
    TakeLine(line);
  }
  m_taken += count;
  return count;
}

void TByteRangesReader::TakeHead() {
  if (m_response.StatusCode() != 206) Fail("was answered by \"" + m_response.StatusLine + "\"");
  m_boundary = ByteRangesBoundary(m_response.HeaderLines.ValueOf("Content-Type"));
  if (!m_boundary.empty()) {
    m_state = State::Preamble;
    return;
  }
  TakeRange(m_response.HeaderLines.ValueOf("Content-Range"));
  m_state = State::Single;
}

bool TByteRangesReader::TakeData(const uint8_t* bytes, int64_t& at, int64_t count) {
  const int64_t piece = std::min(count - at, m_part.Last + 1 - m_partOffset);
  m_sink(m_partOffset, bytes + at, piece);
  m_partOffset += piece;
  at += piece;
  if (m_partOffset <= m_part.Last) return false;
  m_received.push_back(m_part);
  return true;
}

void TByteRangesReader::TakeLine(const std::string& line) {
  ++m_lines;
  switch (m_state) {
    case State::Preamble:
      if (line.empty() && m_lines <= kMaxLeadingEmptyLines) return;
      return TakeDelimiter(line, /*first=*/true);
    case State::PartHeaders:
      return TakeHeader(line);
    case State::DataEnd:
      if (!line.empty()) Fail("has bytes after the part " + std::to_string(m_part.First) + "-" + std::to_string(m_part.Last));
      m_state = State::Delimiter;
      return;
    case State::Delimiter:
      return TakeDelimiter(line, /*first=*/false);
    case State::Head:
    case State::Single:
    case State::Data:
    case State::Done:
      return;
  }
}

void TByteRangesReader::TakeDelimiter(const std::string& line, bool first) {
  const std::string delimiter = "--" + m_boundary;
  const std::string text = Trimmed(line);  // transport padding after the delimiter
  if (!first && text == delimiter + "--") {
    m_state = State::Done;
    return;
  }
  if (text != delimiter) Fail("misses its boundary where \"" + line.substr(0, 80) + "\" stands");
  m_state = State::PartHeaders;
  m_lines = 0;
  m_partRange.clear();
}

void TByteRangesReader::TakeHeader(const std::string& line) {
  if (line.empty()) return BeginPart();
  if (m_lines > kMaxPartHeaderLines) Fail("has a part with more than " + std::to_string(kMaxPartHeaderLines) + " header lines");
  const size_t colon = line.find(':');
  if (colon == std::string::npos) Fail("has a part header without a name: \"" + line.substr(0, 80) + "\"");
  if (Lower(Trimmed(line.substr(0, colon))) != "content-range") return;
  if (!m_partRange.empty()) Fail("has a part with two ranges");
  m_partRange = Trimmed(line.substr(colon + 1));
  if (m_partRange.empty()) Fail("has a part with an empty range");
}

void TByteRangesReader::BeginPart() {
  TakeRange(m_partRange);
  m_state = State::Data;
}

void TByteRangesReader::TakeRange(const std::string& contentRange) {
  int64_t total = 0;
  if (!ParseContentRange(contentRange, m_part.First, m_part.Last, total) || total != m_total ||
      std::find(m_asked.begin(), m_asked.end(), m_part) == m_asked.end() ||
      std::find(m_received.begin(), m_received.end(), m_part) != m_received.end()) {
    Fail(Format("has the part \"%s\", which was not asked for (of %lld bytes)", contentRange.c_str(),
                static_cast<long long>(m_total)));
  }
  m_partOffset = m_part.First;
}
