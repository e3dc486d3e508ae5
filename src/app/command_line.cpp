#include "app/command_line.h"

#include "platform/process.h"

namespace {

bool IsBlank(char c) { return c != '\0' && static_cast<unsigned char>(c) <= 32; }

// Steps over one character: two bytes for a lead byte with a trail byte behind it, else one. Never steps
// over the end of the text.
size_t NextCharacter(const std::string& text, size_t i, const platform::LeadByteTable& leadBytes) {
  if (leadBytes[static_cast<unsigned char>(text[i])] && i + 1 < text.size() && text[i + 1] != '\0') return i + 2;
  return i + 1;
}

// Reads the item that starts at or after position i; returns the position after it.
size_t ReadItem(const std::string& text, size_t i, const platform::LeadByteTable& leadBytes, std::string& item) {
  item.clear();
  const size_t end = text.size();
  for (;;) {
    while (i < end && IsBlank(text[i])) ++i;
    if (i + 1 < end && text[i] == '"' && text[i + 1] == '"') {
      i += 2;  // an empty quoted pair where an item would begin counts as a blank
    } else {
      break;
    }
  }
  while (i < end && text[i] != '\0' && !IsBlank(text[i])) {
    if (text[i] == '"') {
      ++i;
      while (i < end && text[i] != '\0' && text[i] != '"') {
        const size_t next = NextCharacter(text, i, leadBytes);
        item.append(text, i, next - i);
        i = next;
      }
      if (i < end && text[i] == '"') ++i;
    } else {
      const size_t next = NextCharacter(text, i, leadBytes);
      item.append(text, i, next - i);
      i = next;
    }
  }
  return i;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& raw, const platform::LeadByteTable& leadBytes) {
  std::vector<std::string> items;
  std::string item;
  size_t position = ReadItem(raw, 0, leadBytes, item);  // the program's own name
  for (;;) {
    position = ReadItem(raw, position, leadBytes, item);
    if (item.empty()) break;
    items.push_back(item);
  }
  return items;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  if (const auto raw = platform::RawCommandLine()) return SplitCommandLine(*raw, platform::SystemLeadBytes());
  std::vector<std::string> items;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '\0') items.emplace_back(argv[i]);
  }
  return items;
}
