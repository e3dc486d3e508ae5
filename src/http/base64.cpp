#include "http/base64.h"

#include <algorithm>
#include <array>

#include "net/exceptions.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kFill = '=';

std::array<int8_t, 256> MakeDecodeTable() {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return table;
}

void EncodeGroup(const uint8_t* bytes, size_t count, std::string& out) {
  const uint32_t group = (uint32_t{bytes[0]} << 16) | (count > 1 ? uint32_t{bytes[1]} << 8 : 0) |
                         (count > 2 ? uint32_t{bytes[2]} : 0);
  out += kAlphabet[(group >> 18) & 63];
  out += kAlphabet[(group >> 12) & 63];
  out += count > 1 ? kAlphabet[(group >> 6) & 63] : kFill;
  out += count > 2 ? kAlphabet[group & 63] : kFill;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  for (size_t i = 0; i < bytes.size(); i += 3) EncodeGroup(data + i, std::min<size_t>(3, bytes.size() - i), out);
  return out;
}

std::string EncodeBase64(TStream& source, int64_t byteCount) {
  const int64_t remaining = source.Size() - source.Position();
  if (byteCount < 0 || byteCount > remaining) byteCount = remaining;
  if (byteCount % 3 != 0 && byteCount < remaining) throw EIdException("Uneven size in Encode.");
  std::string bytes(static_cast<size_t>(byteCount), '\0');
  source.ReadBuffer(bytes.data(), byteCount);
  return EncodeBase64(bytes);
}

void DecodeBase64ToStream(std::string_view text, TStream& target) {
  if (text.size() % 4 != 0) throw EIdException("Uneven size in DecodeToStream.");
  static const std::array<int8_t, 256> decode = MakeDecodeTable();
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool lastGroup = i + 4 == text.size();
    // Fill characters may only end the text: "xx==" or "xxx=".
    size_t fill = 0;
    if (lastGroup && text[i + 3] == kFill) fill = text[i + 2] == kFill ? 2 : 1;
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int8_t value = k < 4 - fill ? decode[static_cast<unsigned char>(text[i + k])] : 0;
      if (value < 0) throw EIdException("Invalid character in base64 text.");
      group = (group << 6) | static_cast<uint32_t>(value);
    }
    out += static_cast<char>((group >> 16) & 0xFF);
    if (fill < 2) out += static_cast<char>((group >> 8) & 0xFF);
    if (fill < 1) out += static_cast<char>(group & 0xFF);
  }
  target.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

std::string DecodeBase64(std::string_view text) {
  TMemoryStream stream;
  DecodeBase64ToStream(text, stream);
  return stream.DataString();
}
