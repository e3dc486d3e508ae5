#pragma once
// A numbered reply of a line protocol ("250-first", "250 last"): the code and the text lines.
#include <string>
#include <vector>

class TIdRFCReply {
 public:
  // Takes the code from the first line's first three characters (0 when they are not a number) and the text
  // from every line after its fourth character.
  void ParseLines(const std::vector<std::string>& lines);
  void Clear();

  int NumericCode() const { return m_numericCode; }
  const std::vector<std::string>& Text() const { return m_text; }
  // The text lines joined with CR LF.
  std::string TextAsString() const;

 private:
  int m_numericCode = 0;
  std::vector<std::string> m_text;
};
