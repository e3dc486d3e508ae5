#include "platform/codepage.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {

constexpr UINT kGbkCodePage = 936;

LeadByteTable MakeSystemTable() {
  LeadByteTable table{};
  for (int b = 0; b < 256; ++b) table[static_cast<size_t>(b)] = IsDBCSLeadByte(static_cast<BYTE>(b)) != 0;
  return table;
}

}  // namespace

const LeadByteTable& SystemLeadBytesOfPlatform() {
  static const LeadByteTable table = MakeSystemTable();
  return table;
}

std::string GbkToUtf8(const std::string& gbk) { return WideToUtf8(ToWide(kGbkCodePage, gbk)); }

std::string SystemToUtf8(const std::string& text) { return WideToUtf8(ToWide(CP_ACP, text)); }

std::string OemToSystem(const std::string& text) {
  if (text.empty()) return text;
  std::string result(text.size(), '\0');
  OemToCharBuffA(text.data(), result.data(), static_cast<DWORD>(text.size()));
  return result;
}

}  // namespace platform
