#include "http/header_list.h"

#include <utility>

#include "http/text_search.h"
#include "rtl/sysutils.h"

void TIdHeaderList::AddStrings(const std::vector<std::string>& lines) {
  m_lines.insert(m_lines.end(), lines.begin(), lines.end());
}

void TIdHeaderList::Delete(int index) { m_lines.erase(m_lines.begin() + index); }

std::string TIdHeaderList::Text() const {
  std::string text;
  for (const std::string& line : m_lines) text += line + "\r\n";
  return text;
}

void TIdHeaderList::SetText(const std::string& text) {
  m_lines.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      m_lines.push_back(text.substr(start));
      break;
    }
    m_lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
}

std::string TIdHeaderList::NameAt(int index) const {
  const std::string& line = (*this)[index];
  const int colon = FindText(TrimRight(Separator), line);
  if (colon == 0) return "";
  std::string name = line.substr(0, static_cast<size_t>(colon - 1));
  return CaseSensitiveNames ? name : UpperCase(name);
}

int TIdHeaderList::IndexOfHeader(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(NameAt(i), name)) return i;
  }
  return -1;
}

bool TIdHeaderList::IsContinuation(int index) const {
  const std::string& line = (*this)[index];
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

std::string TIdHeaderList::ValueAt(int index) const {
  if (index < 0 || index >= Count()) return "";
  const std::string& line = (*this)[index];
  const std::string separator = TrimRight(Separator);
  const int colon = FindText(separator, line);
  std::string value = colon == 0 ? std::string() : line.substr(static_cast<size_t>(colon - 1) + separator.size());
  if (UnfoldContinuations) {
    for (int next = index + 1; next < Count() && IsContinuation(next); ++next) {
      value = Trim(value) + " " + Trim((*this)[next]);
    }
  }
  return Trim(value);
}

void TIdHeaderList::DeleteContinuations(int index) {
  while (index + 1 < Count() && IsContinuation(index + 1)) Delete(index + 1);
}

void TIdHeaderList::SetValue(const std::string& name, const std::string& value) {
  int slot = IndexOfHeader(name);
  // A replaced header takes its old continuation lines with it: left behind, they would be read as part of
  // the header above them.
  const bool dropContinuations = FoldOnSet || UnfoldContinuations;
  if (value.empty()) {
    if (slot < 0) return;
    if (dropContinuations) DeleteContinuations(slot);
    Delete(slot);
    return;
  }
  if (slot < 0) {
    m_lines.emplace_back();
    slot = Count() - 1;
  }
  if (dropContinuations) DeleteContinuations(slot);
  // A header value never carries a line break of its own: one taken from the network (a cookie, a location)
  // must not be able to start a header line of its own in a request.
  std::string line = name + Separator + value;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  if (!FoldOnSet) {
    m_lines[static_cast<size_t>(slot)] = line;
    return;
  }
  const std::vector<std::string> pieces = Fold(line);
  m_lines.erase(m_lines.begin() + slot);
  m_lines.insert(m_lines.begin() + slot, pieces.begin(), pieces.end());
}

void TIdHeaderList::CollectValues(const std::string& name, std::vector<std::string>& values) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(NameAt(i), name)) values.push_back(ValueAt(i));
  }
}

std::vector<std::string> TIdHeaderList::Fold(const std::string& line) const {
  const std::string wrapped = WrapHeaderLine(line, FoldWidth);
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t end = wrapped.find("\r\n", start);
    std::string piece = TrimRight(wrapped.substr(start, end == std::string::npos ? std::string::npos : end - start));
    // A continuation that held only blanks or control bytes trims to an empty line, and an empty line
    // would end the header: the pieces after it would be cut off from their value.
    if (!piece.empty()) pieces.push_back(std::move(piece));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return pieces;
}

std::string WrapHeaderLine(const std::string& line, int width) {
  std::string result;
  size_t lineStart = 0;   // first byte of the piece being built
  size_t breakAfter = 0;  // one past the last break character of the piece, 0 when none yet
  size_t column = 0;      // bytes in the piece, counting the blank that begins a continuation
  bool inQuotes = false;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    const size_t length = (IsLeadByte(c) && i + 1 < line.size()) ? 2 : 1;
    if (length == 1) {
      if (c == '"') {
        inQuotes = !inQuotes;
      } else if (!inQuotes && (c == ' ' || c == '\t' || c == ',')) {
        breakAfter = i + 1;
      }
    }
    i += length;
    column += length;
    if (column > static_cast<size_t>(width) && breakAfter > lineStart && breakAfter < line.size()) {
      result.append(line, lineStart, breakAfter - lineStart);
      result += "\r\n ";
      lineStart = breakAfter;
      // Blanks at the break belong to neither piece: the continuation's own blank stands for them.
      while (lineStart < line.size() && (line[lineStart] == ' ' || line[lineStart] == '\t')) ++lineStart;
      if (i < lineStart) i = lineStart;
      breakAfter = lineStart;
      column = 1 + (i - lineStart);
    }
  }
  result.append(line, lineStart, std::string::npos);
  return result;
}
