#include "http/content_range.h"

namespace {

// Reads a decimal number without sign or blanks from the front of text; false when none is there.
bool TakeNumber(std::string_view& text, int64_t& value) {
  constexpr size_t kMaxDigits = 18;  // below 2^63
  size_t digits = 0;
  value = 0;
  while (digits < text.size() && digits < kMaxDigits && text[digits] >= '0' && text[digits] <= '9') {
    value = value * 10 + (text[digits] - '0');
    ++digits;
  }
  text.remove_prefix(digits);
  return digits > 0;
}

}  // namespace

bool ParseContentRange(std::string_view text, int64_t& first, int64_t& last, int64_t& total) {
  constexpr std::string_view kUnit = "bytes ";
  if (text.substr(0, kUnit.size()) != kUnit) return false;
  text.remove_prefix(kUnit.size());
  if (!TakeNumber(text, first) || text.empty() || text.front() != '-') return false;
  text.remove_prefix(1);
  if (!TakeNumber(text, last) || text.empty() || text.front() != '/') return false;
  text.remove_prefix(1);
  return TakeNumber(text, total) && text.empty() && first <= last && last < total;
}
