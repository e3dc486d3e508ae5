#include "platform/codepage.h"

#include <windows.h>

namespace platform {
namespace {

constexpr UINT kGbkCodePage = 936;

std::wstring ToWide(UINT codePage, const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  // Without MB_ERR_INVALID_CHARS an invalid byte becomes the default character: a message is never lost.
  const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
  return text;
}

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
