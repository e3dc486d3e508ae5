#include "app/archive_signature.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The public key of tests/e2e/signing_test_key.pem, and signatures made with tools/sign_update.py.
const std::string kKey = "AvIV+R7FQ6mbnAZGgEZmRsmdCocl1V0hia+HvsWW+sk=";
const std::string kOtherKey = "koLpRM+3MnMhcnqFuglVTnvYLAw+JiSKNVUCmHeUsr4=";
const std::string kSmall = "update archive bytes";
const std::string kSmallSignature =
    "wcuTo4VM8j5gy1lDQwa+jHMlwXkYeNeUcP39MY6iNSfBkiAYCPBVwJ9X0hlwtqbQ/TZcZd+bF97hNxEiyeA/Aw==";
// Over 64 KiB: the size at which the library's S-expressions could no longer hold the message itself.
const std::string kBigSignature =
    "+lFb9dSqnBO2pdNI1pFtbmhUwRdndpGROEltFuKSCnHXUbK5g/k/UlsDnpjy11VxlqfEMLsIQrmQv5iPHCwxBw==";

std::string Big() {
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7) % 251);
  return bytes;
}

std::string FlipBit(std::string text, size_t index, int bit) {
  text[index] = static_cast<char>(text[index] ^ (1 << bit));
  return text;
}

bool Verify(const std::string& key, const std::string& data, const std::string& signature) {
  TStringStream archive(data);
  return VerifyArchiveSignature(key, archive, signature);
}

TEST(ArchiveSignatureTest, GoodSignaturesVerify) {
  EXPECT_TRUE(Verify(kKey, kSmall, kSmallSignature));
  EXPECT_TRUE(Verify(kKey, kSmall, "  " + kSmallSignature + "\r\n"));
  EXPECT_TRUE(Verify(kKey, Big(), kBigSignature));
}

TEST(ArchiveSignatureTest, AnythingElseIsRejected) {
  const std::string big = Big();
  struct Case {
    const char* name;
    std::string key;
    std::string data;
    std::string signature;
  };
  const Case cases[] = {
      {"flipped bit in the data", kKey, FlipBit(kSmall, 3, 0), kSmallSignature},
      {"flipped bit late in big data", kKey, FlipBit(big, big.size() - 1, 7), kBigSignature},
      {"flipped bit in the signature", kKey, kSmall, FlipBit(kSmallSignature, 5, 1)},
      {"signature of other data", kKey, kSmall, kBigSignature},
      {"other key", kOtherKey, kSmall, kSmallSignature},
      {"empty signature", kKey, kSmall, ""},
      {"truncated signature", kKey, kSmall, kSmallSignature.substr(0, 84)},
      {"not base64", kKey, kSmall, "<html>404</html>"},
      {"empty key", "", kSmall, kSmallSignature},
      {"short key", kKey.substr(0, 40), kSmall, kSmallSignature},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Verify(c.key, c.data, c.signature)) << c.name;
  }
}

}  // namespace
