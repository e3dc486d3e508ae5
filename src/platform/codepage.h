#pragma once
// The system code page: which bytes lead a double-byte character, and conversions for display. User-visible
// texts are held as GBK bytes and converted to UTF-8 at the user-interface boundary.
#include <array>
#include <string>

namespace platform {

using LeadByteTable = std::array<bool, 256>;

// Lead bytes of the system's ANSI code page; none on a single-byte or UTF-8 system.
const LeadByteTable& SystemLeadBytes();
// The lead bytes of GBK (code page 936): 0x81 to 0xFE.
const LeadByteTable& GbkLeadBytes();

// Replaces the system's table until the guard ends (tests of double-byte rules on any system).
class LeadBytesOverride {
 public:
  explicit LeadBytesOverride(const LeadByteTable& table);
  ~LeadBytesOverride();
  LeadBytesOverride(const LeadBytesOverride&) = delete;
  LeadBytesOverride& operator=(const LeadBytesOverride&) = delete;

 private:
  const LeadByteTable* m_previous;
};

std::string GbkToUtf8(const std::string& gbk);
// Text in the system code page (arguments, file names) to UTF-8 for display.
std::string SystemToUtf8(const std::string& text);
// Archive member names from the OEM code page to the system code page (identity on Linux).
std::string OemToSystem(const std::string& text);
// A UTF-8 name to the system code page (identity on Linux). False when the name is not UTF-8 or the code page
// cannot hold one of its characters: text then shows those as '?', to name it in a message, never to write.
bool Utf8ToSystem(const std::string& utf8, std::string& text);

}  // namespace platform
