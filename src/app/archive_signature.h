#pragma once
// Ed25519 signatures of update archives, checked with libgcrypt. A publisher signs the SHA-512 digest of
// the archive's bytes with the private key (tools/sign_update.py) and publishes the base64 signature beside
// the archive as "<archive URL>.sig"; a build of the updater with the public key compiled in installs only
// archives whose signature verifies.
#include <cstddef>
#include <string>

// True when signatureText (base64 of the 64-byte signature; surrounding blanks and line ends ignored) is a
// valid signature of the SHA-512 digest of the size bytes at data under publicKey (base64 of the 32-byte key). A malformed key or
// signature, or a library that cannot be started, is false as well: nothing unverified is ever accepted.
bool VerifyArchiveSignature(const std::string& publicKey, const void* data, size_t size,
                            const std::string& signatureText);
