#pragma once
// Byte-string helpers of the runtime framework. Text is a byte string in the system code page; comparisons
// are by bytes unless a function says it ignores (ASCII) case.
#include <cstdint>
#include <string>
#include <string_view>

// Removes bytes 0 to 32 from both ends (or from one end).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

std::string UpperCase(std::string_view text);  // ASCII letters only
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);  // equal ignoring ASCII case

// Strict conversion: optional sign, decimal digits or a "$"/"0x" hexadecimal form, nothing else; raises
// EConvertError "'%s' is not a valid integer value" when the text is not a 32-bit integer.
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
// Lenient conversion: the default when the text is not a number.
int32_t StrToIntDef(std::string_view text, int32_t fallback);
int64_t StrToInt64Def(std::string_view text, int64_t fallback);
// Parses without raising; false when the text is not an integer of the width.
bool TryStrToInt(std::string_view text, int32_t& value);
bool TryStrToInt64(std::string_view text, int64_t& value);

std::string IntToStr(int64_t value);

// printf-style formatting into a byte string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
