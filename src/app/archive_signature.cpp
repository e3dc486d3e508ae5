#include "app/archive_signature.h"

#include <gcrypt.h>

#include <algorithm>
#include <vector>

#include "http/base64.h"
#include "rtl/exception.h"
#include "rtl/sysutils.h"

namespace {

constexpr size_t kKeySize = 32;
constexpr size_t kSignatureSize = 64;
constexpr size_t kDigestSize = 64;  // SHA-512
constexpr int64_t kPieceSize = 1024 * 1024;

// The library must be initialised once before any other call; only public keys are handled, so the secure
// memory pool is not needed.
bool StartLibrary() {
  static const bool started = [] {
    if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  return started;
}

// Base64 to bytes; empty for text that is not base64.
std::string Decode(const std::string& text) {
  try {
    return DecodeBase64(Trim(text));
  } catch (const Exception&) {
    return {};
  }
}

// Reads the archive's next bytes; the count read, 0 at its end or on a failure.
using TReadNext = std::function<int64_t(void* buffer, int64_t count)>;

// The SHA-512 digest of size bytes read in order; false when a read fails.
bool Digest(int64_t size, const TReadNext& read, const std::function<void()>& betweenPieces,
            unsigned char* digest) {
  gcry_md_hd_t hash = nullptr;
  if (gcry_md_open(&hash, GCRY_MD_SHA512, 0) != 0) return false;
  std::vector<unsigned char> piece(static_cast<size_t>(kPieceSize));
  int64_t done = 0;
  while (done < size) {
    const int64_t count = read(piece.data(), std::min(kPieceSize, size - done));
    if (count <= 0) break;
    gcry_md_write(hash, piece.data(), static_cast<size_t>(count));
    done += count;
    if (betweenPieces) betweenPieces();
  }
  if (done == size) std::copy_n(gcry_md_read(hash, GCRY_MD_SHA512), kDigestSize, digest);
  gcry_md_close(hash);
  return done == size;
}

// Releases an S-expression on every path.
struct Expression {
  gcry_sexp_t value = nullptr;
  ~Expression() { gcry_sexp_release(value); }
};

// The signature check over the archive's size bytes, read in order from its start.
bool Verify(const std::string& publicKey, int64_t size, const TReadNext& read, const std::string& signatureText,
            const std::function<void()>& betweenPieces) {
  const std::string key = Decode(publicKey);
  const std::string signature = Decode(signatureText);
  if (key.size() != kKeySize || signature.size() != kSignatureSize) return false;
  if (!StartLibrary()) return false;
  // The library's S-expressions hold at most 64 KiB per value, so the signed message is the archive's
  // SHA-512 digest rather than the archive itself.
  unsigned char digest[kDigestSize];
  if (!Digest(size, read, betweenPieces, digest)) return false;
  Expression keyExpression;
  Expression signatureExpression;
  Expression dataExpression;
  if (gcry_sexp_build(&keyExpression.value, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(kKeySize), key.data()) != 0 ||
      gcry_sexp_build(&signatureExpression.value, nullptr, "(sig-val (eddsa (r %b) (s %b)))",
                      static_cast<int>(kSignatureSize / 2), signature.data(), static_cast<int>(kSignatureSize / 2),
                      signature.data() + kSignatureSize / 2) != 0 ||
      gcry_sexp_build(&dataExpression.value, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                      static_cast<int>(kDigestSize), digest) != 0) {
    return false;
  }
  return gcry_pk_verify(signatureExpression.value, dataExpression.value, keyExpression.value) == 0;
}

}  // namespace

bool VerifyArchiveSignature(const std::string& publicKey, TStream& archive, const std::string& signatureText,
                            const std::function<void()>& betweenPieces) {
  archive.SetPosition(0);
  return Verify(
      publicKey, archive.Size(), [&archive](void* buffer, int64_t count) { return archive.Read(buffer, count); },
      signatureText, betweenPieces);
}

bool VerifyArchiveSignature(const std::string& publicKey, TStream32& archive, const std::string& signatureText,
                            const std::function<void()>& betweenPieces) {
  if (archive.Seek(0, SeekOrigin::Beginning) != 0) return false;
  return Verify(
      publicKey, archive.Size(), [&archive](void* buffer, int64_t count) { return archive.Read(buffer, count); },
      signatureText, betweenPieces);
}
