#include "zip/zip_cipher.h"

#include <zlib.h>

namespace {

constexpr uint32_t kInitialKey0 = 0x12345678;
constexpr uint32_t kInitialKey1 = 0x23456789;
constexpr uint32_t kInitialKey2 = 0x34567890;

// One byte of the ZIP CRC-32, as the cipher's key schedule uses it (zlib's table is the same polynomial).
uint32_t CrcByte(uint32_t crc, uint8_t byte) {
  static const auto* const table = get_crc_table();
  return static_cast<uint32_t>(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

}  // namespace

TZipCipher::TZipCipher() : m_keys{kInitialKey0, kInitialKey1, kInitialKey2} {}

TZipCipher TZipCipher::FromPassword(const std::string& password) {
  TZipCipher cipher;
  for (const char c : password) cipher.UpdateKeys(static_cast<uint8_t>(c));
  return cipher;
}

TZipCipher TZipCipher::HeaderKey() {
  return TZipCipher(kInitialKey0 & kInitialKey2, kInitialKey1 & kInitialKey0, kInitialKey2 & kInitialKey1);
}

void TZipCipher::UpdateKeys(uint8_t plain) {
  m_keys[0] = CrcByte(m_keys[0], plain);
  m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
  m_keys[2] = CrcByte(m_keys[2], static_cast<uint8_t>(m_keys[1] >> 24));
}

uint8_t TZipCipher::StreamByte() const {
  const uint32_t temp = (m_keys[2] | 2) & 0xFFFF;
  return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

void TZipCipher::Decipher(uint8_t* data, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    data[i] = static_cast<uint8_t>(data[i] ^ StreamByte());
    UpdateKeys(data[i]);
  }
}

void TZipCipher::Encipher(uint8_t* data, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t plain = data[i];
    data[i] = static_cast<uint8_t>(plain ^ StreamByte());
    UpdateKeys(plain);
  }
}
