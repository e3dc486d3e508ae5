#pragma once
// TIdHeaderList: an ordered list of raw header lines "Name: value" (duplicates allowed, unsorted) with lookup
// of names that ignores case, unfolding of continuation lines on reading and folding of long values on setting.
#include <string>
#include <vector>

class TIdHeaderList {
 public:
  TIdHeaderList() = default;
  explicit TIdHeaderList(int foldWidth) : FoldWidth(foldWidth) {}

  std::string Separator = ": ";     // written between name and value; ":" ends a name when reading
  bool CaseSensitiveNames = false;  // when false, NameAt upper-cases
  bool UnfoldContinuations = true;  // ValueAt also takes the following lines that start with a blank or tab
  bool FoldOnSet = true;            // SetValue wraps long lines at FoldWidth
  int FoldWidth = 78;

  // The raw lines.
  int Count() const { return static_cast<int>(m_lines.size()); }
  const std::string& operator[](int index) const { return m_lines.at(static_cast<size_t>(index)); }
  const std::vector<std::string>& Lines() const { return m_lines; }
  void Add(const std::string& line) { m_lines.push_back(line); }
  void AddStrings(const std::vector<std::string>& lines);
  void Delete(int index);
  void Clear() { m_lines.clear(); }
  // The lines joined with CR LF after each; setting splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(const std::string& text);

  // The text of the line before the first ":" (upper-cased unless CaseSensitiveNames); empty without ":".
  std::string NameAt(int index) const;
  // Index of the first line whose name equals name without regard to case, or -1.
  int IndexOfHeader(const std::string& name) const;
  // The trimmed value of the line at index, with its continuation lines joined on by single blanks when
  // UnfoldContinuations is set; empty for an index out of range.
  std::string ValueAt(int index) const;
  std::string ValueOf(const std::string& name) const { return ValueAt(IndexOfHeader(name)); }
  // Sets a header in place (appending it when absent); an empty value removes it and never adds one. The old
  // value's continuation lines go with it. A CR or LF inside value becomes a blank.
  void SetValue(const std::string& name, const std::string& value);
  // Appends the value of every line whose name matches, in order (for repeated headers such as Set-cookie).
  void CollectValues(const std::string& name, std::vector<std::string>& values) const;

 private:
  bool IsContinuation(int index) const;
  void DeleteContinuations(int index);
  std::vector<std::string> Fold(const std::string& line) const;

  std::vector<std::string> m_lines;
};

// Wraps line at width with the break sequence CR LF + one blank. Breaks fall after a tab, a blank or a comma
// outside double quotes; a double-byte character of the system code page is never split. A piece without a
// break point stays whole even when it is longer than width.
std::string WrapHeaderLine(const std::string& line, int width);
