#pragma once
// Ed25519 signatures of update archives, checked with libgcrypt. A publisher signs the SHA-512 digest of
// the archive's bytes with the private key (tools/sign_update.py) and publishes the base64 signature beside
// the archive as "<archive URL>.sig"; a build of the updater with the public key compiled in installs only
// archives whose signature verifies.
#include <functional>
#include <string>

#include "rtl/streams.h"
#include "zip/stream32.h"

// True when signatureText (base64 of the 64-byte signature; surrounding blanks and line ends ignored) is a
// valid signature of the SHA-512 digest of the archive's bytes under publicKey (base64 of the 32-byte key).
// The archive is read from its start to its end in pieces, betweenPieces running after each (a large archive
// takes seconds, and the window must stay responsive). A malformed key or signature, a read that fails, or a
// library that cannot be started, is false as well: nothing unverified is ever accepted.
bool VerifyArchiveSignature(const std::string& publicKey, TStream& archive, const std::string& signatureText,
                            const std::function<void()>& betweenPieces = {});
// The same over the extractor's stream (the archive it holds open for its extraction).
bool VerifyArchiveSignature(const std::string& publicKey, TStream32& archive, const std::string& signatureText,
                            const std::function<void()>& betweenPieces = {});
