#!/usr/bin/env python3
"""Signing keys and signatures for update archives (Ed25519, through the openssl command line tool).

  sign_update.py keygen PRIVATE_KEY.pem   makes a key pair; prints the public key for UPDATER_PUBLIC_KEY
  sign_update.py public PRIVATE_KEY.pem   prints the public key of an existing private key
  sign_update.py sign PRIVATE_KEY.pem ARCHIVE [SIGNATURE]
                                          writes the base64 signature of the SHA-512 digest of ARCHIVE's
                                          bytes to SIGNATURE (default ARCHIVE.sig), to be published beside
                                          the archive

Keep the private key off the update server: whoever holds it can make archives every signed updater installs.
"""
import base64
import hashlib
import os
import subprocess
import sys
import tempfile


def openssl(*args, data=None):
    return subprocess.run(["openssl"] + list(args), input=data, check=True, stdout=subprocess.PIPE).stdout


def public_key(private_key):
    der = openssl("pkey", "-in", private_key, "-pubout", "-outform", "DER")
    # An Ed25519 public key in DER is a fixed 12-byte header followed by the 32 key bytes.
    return base64.b64encode(der[-32:]).decode()


def keygen(private_key):
    if os.path.exists(private_key):
        sys.exit("%s exists: not overwritten" % private_key)
    old = os.umask(0o077)
    try:
        openssl("genpkey", "-algorithm", "ED25519", "-out", private_key)
    finally:
        os.umask(old)
    print(public_key(private_key))


def sign(private_key, archive, signature=None):
    # The updater verifies with libgcrypt, whose S-expressions hold at most 64 KiB: the signed message is the
    # archive's digest.
    digest = hashlib.sha512()
    with open(archive, "rb") as f:
        for piece in iter(lambda: f.read(1 << 20), b""):
            digest.update(piece)
    with tempfile.TemporaryDirectory() as directory:
        message = os.path.join(directory, "digest")
        with open(message, "wb") as f:
            f.write(digest.digest())
        raw = os.path.join(directory, "signature")
        openssl("pkeyutl", "-sign", "-rawin", "-inkey", private_key, "-in", message, "-out", raw)
        with open(raw, "rb") as f:
            text = base64.b64encode(f.read()).decode()
    with open(signature or archive + ".sig", "w") as f:
        f.write(text + "\n")


def main(argv):
    if len(argv) >= 2 and argv[0] == "keygen":
        keygen(argv[1])
    elif len(argv) >= 2 and argv[0] == "public":
        print(public_key(argv[1]))
    elif len(argv) in (3, 4) and argv[0] == "sign":
        sign(*argv[1:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
