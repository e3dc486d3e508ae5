#include "rtl/sysutils.h"

#include <cstdarg>
#include <cstdio>
#include <limits>
#include <vector>

#include "rtl/exception.h"

namespace {

bool IsBlank(unsigned char c) { return c <= 32; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The runtime's integer syntax: blanks in front, a sign, then decimal digits or "$"/"0x"/"x" and hex digits.
bool ParseInteger(std::string_view text, int64_t minimum, int64_t maximum, int64_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? static_cast<uint64_t>(-(minimum + 1)) + 1 : static_cast<uint64_t>(maximum);
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    if (magnitude > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

[[noreturn]] void RaiseNotInteger(std::string_view text) {
  throw EConvertError(Format("'%s' is not a valid integer value", std::string(text).c_str()));
}

}  // namespace

std::string Trim(std::string_view text) { return TrimLeft(TrimRight(text)); }

std::string TrimLeft(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && IsBlank(static_cast<unsigned char>(text[start]))) ++start;
  return std::string(text.substr(start));
}

std::string TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(0, end));
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = Upper(c);
  return result;
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = Lower(c);
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  int64_t wide = 0;
  if (!ParseInteger(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), wide)) {
    return false;
  }
  value = static_cast<int32_t>(wide);
  return true;
}

bool TryStrToInt64(std::string_view text, int64_t& value) {
  return ParseInteger(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), value);
}

int32_t StrToInt(std::string_view text) {
  int32_t value = 0;
  if (!TryStrToInt(text, value)) RaiseNotInteger(text);
  return value;
}

int64_t StrToInt64(std::string_view text) {
  int64_t value = 0;
  if (!TryStrToInt64(text, value)) RaiseNotInteger(text);
  return value;
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  int32_t value = 0;
  return TryStrToInt(text, value) ? value : fallback;
}

int64_t StrToInt64Def(std::string_view text, int64_t fallback) {
  int64_t value = 0;
  return TryStrToInt64(text, value) ? value : fallback;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (length > 0) {
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    result.assign(buffer.data(), static_cast<size_t>(length));
  }
  va_end(args);
  return result;
}
