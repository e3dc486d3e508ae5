#pragma once
// The traditional PKWARE stream cipher of the ZIP format: three 32-bit key words updated by every plain byte.
// Members are enciphered with a key state initialised from a password; enciphered header records use a fixed
// key state derived from the initial words (HeaderKey).
#include <cstdint>
#include <string>

class TZipCipher {
 public:
  // The published initial key state.
  TZipCipher();

  // The initial state updated with every byte of the password.
  static TZipCipher FromPassword(const std::string& password);
  // The fixed state that enciphered header records start from: each word the AND of two initial words
  // (word 0 from the first and third, word 1 from the second and first, word 2 from the third and second).
  static TZipCipher HeaderKey();

  void Decipher(uint8_t* data, int64_t count);
  // The inverse of Decipher; the tests use it to build enciphered records.
  void Encipher(uint8_t* data, int64_t count);

 private:
  TZipCipher(uint32_t k0, uint32_t k1, uint32_t k2) : m_keys{k0, k1, k2} {}
  void UpdateKeys(uint8_t plain);
  uint8_t StreamByte() const;

  uint32_t m_keys[3];
};
