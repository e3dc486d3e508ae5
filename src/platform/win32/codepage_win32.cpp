#include "platform/codepage.h"

#include <windows.h>

#include <algorithm>

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

bool Utf8ToSystem(const std::string& utf8, std::string& text) {
  const int size = static_cast<int>(utf8.size());
  const bool valid =
      utf8.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0) > 0;
  if (GetACP() == CP_UTF8) {
    text = utf8;
    return valid;
  }
  const std::wstring wide = Utf8ToWide(utf8);
  const int wideSize = static_cast<int>(wide.size());
  // No best fit: a character the code page lacks must not become a look-alike (another file's name).
  BOOL usedDefault = FALSE;
  const int length =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideSize, nullptr, 0, "?", &usedDefault);
  text.assign(static_cast<size_t>(std::max(length, 0)), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideSize, text.data(), length, "?", &usedDefault);
  }
  return valid && usedDefault == FALSE;
}

}  // namespace platform
