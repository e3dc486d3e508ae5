#include "fuzz_entries.h"

#include <cstdio>
#include <cstdlib>

const std::vector<TFuzzEntry>& FuzzEntries() {
  static const std::vector<TFuzzEntry> entries = {
      {"inflate64", FuzzInflate64},   {"inflate", FuzzInflate},         {"unshrink", FuzzUnshrink},
      {"unreduce", FuzzUnreduce},     {"explode", FuzzExplode},         {"uri", FuzzUri},
      {"merge_path", FuzzMergePath},  {"http_date", FuzzHttpDate},      {"header_list", FuzzHeaderList},
      {"cookies", FuzzCookies},       {"command_line", FuzzCommandLine}, {"http_response", FuzzHttpResponse},
      {"zip_archive", FuzzZipArchive}, {"zip_member", FuzzZipMember},   {"mask", FuzzMask},
      {"install_journal", FuzzInstallJournal}, {"byte_ranges", FuzzByteRanges},
  };
  return entries;
}

const TFuzzEntry* FindFuzzEntry(const std::string& name) {
  for (const TFuzzEntry& entry : FuzzEntries()) {
    if (name == entry.Name) return &entry;
  }
  return nullptr;
}

void FuzzCheck(bool condition, const std::string& what) {
  if (condition) return;
  // Control and non-ASCII bytes as \xNN, so that the report stays one readable line.
  std::string shown;
  for (const char c : what) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    }
  }
  std::fprintf(stderr, "fuzz invariant broken: %s\n", shown.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string TFuzzInput::Until(char delimiter) {
  std::string text;
  while (m_position < m_size) {
    const char c = static_cast<char>(m_data[m_position++]);
    if (c == delimiter) break;
    text += c;
  }
  return text;
}

std::string TFuzzInput::Rest() {
  std::string text(reinterpret_cast<const char*>(m_data) + m_position, m_size - m_position);
  m_position = m_size;
  return text;
}
