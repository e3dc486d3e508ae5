#include "net/rfc_reply.h"

#include "rtl/sysutils.h"

void TIdRFCReply::ParseLines(const std::vector<std::string>& lines) {
  Clear();
  if (lines.empty()) return;
  m_numericCode = StrToIntDef(std::string_view(lines.front()).substr(0, 3), 0);
  for (const std::string& line : lines) m_text.push_back(line.size() > 4 ? line.substr(4) : std::string());
}

void TIdRFCReply::Clear() {
  m_numericCode = 0;
  m_text.clear();
}

std::string TIdRFCReply::TextAsString() const {
  std::string text;
  for (size_t i = 0; i < m_text.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += m_text[i];
  }
  return text;
}
