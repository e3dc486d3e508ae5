#include "app/printable_line.h"

#include <cstdint>

#include "rtl/sysutils.h"

namespace {

constexpr const char* kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// The length of the valid UTF-8 sequence at text[at], and its code point; 0 when none starts there (a stray
// continuation byte, an overlong form, a surrogate, a value past U+10FFFF, or a cut sequence).
size_t DecodeSequence(const std::string& text, size_t at, uint32_t& code) {
  const auto byte = [&text](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  uint32_t lowest = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string PrintableLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    uint32_t code = 0;
    const size_t length = DecodeSequence(text, at, code);
    if (length == 0) {
      line += kReplacementCharacter;
      ++at;
    } else if (code == '\r' || code == '\n') {
      line += ' ';
      at += (code == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ? 2 : 1;
    } else if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
      line += Format("\\x%02x", static_cast<unsigned>(code));
      at += length;
    } else {
      line.append(text, at, length);
      at += length;
    }
  }
  return line;
}
