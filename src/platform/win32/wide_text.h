#pragma once
// Conversions between the byte texts of the logic and the UTF-16 of the wide Windows API.
#include <windows.h>

#include <string>

namespace platform {

// Text in the given code page as UTF-16. An invalid byte becomes the default character, so a message is
// never lost.
std::wstring ToWide(UINT codePage, const std::string& text);
inline std::wstring Utf8ToWide(const std::string& utf8) { return ToWide(CP_UTF8, utf8); }
std::string WideToUtf8(const std::wstring& wide);

}  // namespace platform
