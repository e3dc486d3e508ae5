#pragma once
// Text search on byte strings in the system code page, the building blocks of every parser of the HTTP client.
// Positions are 1-based and 0 means "not found", because the parsers reason in those terms.
#include <string>
#include <string_view>

// Position of the first occurrence of needle in haystack, compared exactly; 0 when absent or when needle is
// empty. On a system code page with lead bytes (a double-byte page such as GBK) a match is only accepted at a
// character boundary, so a needle never matches the trail byte of a double-byte character.
int FindText(std::string_view needle, std::string_view haystack);

// Position of the last occurrence of needle that starts at or before startPos, comparing without regard to
// ASCII letter case; startPos -1 means the end of haystack, and a start beyond the last possible position is
// clamped to it. 0 when absent.
int FindLast(std::string_view needle, std::string_view haystack, int startPos);

// Returns the text of input before the first occurrence of delimiter (the whole input when it is absent).
// With removeFromInput, input is left holding the text after the delimiter (empty when it was absent).
// With caseSensitive false the search ignores ASCII letter case.
std::string SplitAt(std::string& input, std::string_view delimiter, bool removeFromInput = true,
                    bool caseSensitive = true);

// True when the byte leads a double-byte character of the system code page.
bool IsLeadByte(char byte);
