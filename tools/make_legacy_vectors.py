"""Makes the shrunk, reduced and imploded test vectors of tests/fixtures/legacy/ and checks them before
writing: shrunk and imploded archives must pass both Info-ZIP `unzip -t` and `7zz t`, reduced archives
must be turned back into their original bytes by unreduce_reference.py (which first has to reproduce
reduce-factor4.zip). Deterministic: the same vectors come out on every run.

Usage: python3 tools/make_legacy_vectors.py [output directory, default tests/fixtures/legacy]
"""
import os
import random
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from implode_encoder import implode  # noqa: E402
from legacy_zip_writer import read_zip, write_zip  # noqa: E402
from reduce_encoder import reduce  # noqa: E402
from shrink_encoder import shrink  # noqa: E402
from unreduce_reference import unreduce  # noqa: E402


def words(rng, count, extra=()):
    vocabulary = [b"update ", b"archive ", b"member ", b"window\r\n", b"the ", b"of ", b"legacy "] + list(extra)
    return b"".join(rng.choice(vocabulary) for _ in range(count))


def shrunk_members(rng):
    text = words(rng, 1200, [b"aaaaaaaaaaaa", b"abababababab"])
    noisy = bytes(rng.randrange(256) for _ in range(6000)) + words(rng, 900) + bytes(rng.randrange(64) for _ in range(3000))
    return [
        # A partial clear every 150 codes: leaves freed, then handed out again lowest first.
        ("clears.txt", text, shrink(text, clear_every=150)),
        # One long run: each new code is the one being defined (KwKwK), widths up to 11 bits.
        ("kwkwk.bin", b"a" * 3000 + b"b" * 20, shrink(b"a" * 3000 + b"b" * 20)),
        # Enough distinct strings to fill all 8192 codes, widths up to 13 bits and a clear when full.
        ("table-full.bin", noisy, shrink(noisy)),
    ]


def reduced_members(rng):
    members = []
    for factor in (1, 2, 3, 4):
        data = (words(rng, 300, [b"\x90", b"\x90\x90\x90\x90 marker "]) + b"r" * 900 +
                bytes(rng.randrange(256) for _ in range(200)) + words(rng, 200))
        # Repeats as far back as this factor reaches (256 << factor), and long copies past the length mask.
        data += data[-(256 << factor) + 10:][:300] + b"z" * (400 + 100 * factor)
        members.append(("factor%d.txt" % factor, data, reduce(data, factor), factor + 1))
    return members


def imploded_members(rng):
    members = []
    for eight_k in (False, True):
        for three_trees in (False, True):
            block = bytes(rng.randrange(256) for _ in range(700))
            data = words(rng, 800) + block + b"-" * 900 + words(rng, 300) + block + b"=" * 330
            if eight_k:
                data += bytes(rng.randrange(256) for _ in range(5000)) + block  # a match about 5700 back
            compressed, flags = implode(data, eight_k, three_trees)
            name = "%dk-%dtrees.txt" % (8 if eight_k else 4, 3 if three_trees else 2)
            members.append((name, data, compressed, flags))
    return members


def oracle_accepts(path):
    unzip = subprocess.run(["unzip", "-t", path], capture_output=True, text=True)
    sevenzip = subprocess.run(["7zz", "t", path], capture_output=True, text=True)
    ok = unzip.returncode == 0 and sevenzip.returncode == 0 and "Everything is Ok" in sevenzip.stdout
    if not ok:
        print(unzip.stdout, sevenzip.stdout, file=sys.stderr)
    return ok


def reference_accepts(path, originals):
    for member in read_zip(path):
        data = unreduce(member["compressed"], member["size"], member["method"] - 1)
        if data != originals[member["name"]] or zlib.crc32(data) & 0xFFFFFFFF != member["crc"]:
            return False
    return True


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "tests", "fixtures", "legacy")
    rng = random.Random(20250101)

    factor4 = read_zip(os.path.join(here, "..", "tests", "fixtures", "legacy", "reduce-factor4.zip"))[0]
    if zlib.crc32(unreduce(factor4["compressed"], factor4["size"], factor4["method"] - 1)) & 0xFFFFFFFF != factor4["crc"]:
        sys.exit("the reference decoder does not reproduce reduce-factor4.zip")

    with tempfile.TemporaryDirectory() as scratch:
        archives = {
            "shrunk-vectors.zip": [dict(name=n, method=1, flags=0, data=d, compressed=c) for n, d, c in shrunk_members(rng)],
            "reduced-vectors.zip": [dict(name=n, method=m, flags=0, data=d, compressed=c) for n, d, c, m in reduced_members(rng)],
            "imploded-vectors.zip": [dict(name=n, method=6, flags=f, data=d, compressed=c) for n, d, c, f in imploded_members(rng)],
        }
        for name, members in archives.items():
            scratch_path = os.path.join(scratch, name)
            write_zip(scratch_path, members)
            if name.startswith("reduced"):
                ok = reference_accepts(scratch_path, {m["name"]: m["data"] for m in members})
            else:
                ok = oracle_accepts(scratch_path)
            if not ok:
                sys.exit("rejected by the oracle: " + name)
            write_zip(os.path.join(out_dir, name), members)
            print("%s: %s" % (name, ", ".join("%s %d->%d" % (m["name"], len(m["data"]), len(m["compressed"])) for m in members)))


if __name__ == "__main__":
    main()
