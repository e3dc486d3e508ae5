"""Reference Reduce decoder (test-only), written apart from the C++ decoder as a second opinion for the
reduced vectors: it must first reproduce reduce-factor4.zip, then turn every reduced vector back into its
original bytes.

Usage: unreduce_reference.py archive.zip   (checks every reduced member against its stored CRC-32 and size)
"""
import sys
import zlib

from legacy_zip_writer import read_zip


class Bits:
    def __init__(self, data):
        self.data = data
        self.bitpos = 0

    def get(self, n):
        value = 0
        for i in range(n):
            byte = self.bitpos >> 3
            if byte >= len(self.data):
                raise EOFError
            value |= ((self.data[byte] >> (self.bitpos & 7)) & 1) << i
            self.bitpos += 1
        return value


def follower_bits(n):
    return max(1, (n - 1).bit_length())


def unreduce(compressed, size, factor):
    bits = Bits(compressed)
    sets = [None] * 256
    for i in range(255, -1, -1):
        n = bits.get(6)
        sets[i] = [bits.get(8) for _ in range(n)]
    out = bytearray()
    last = 0
    state = 0
    v = length = 0
    try:
        while len(out) < size:
            s = sets[last]
            if s and bits.get(1) == 0:
                c = s[bits.get(follower_bits(len(s)))]
            else:
                c = bits.get(8)
            last = c
            if state == 0:
                if c == 144:
                    state = 1
                else:
                    out.append(c)
            elif state == 1:
                if c == 0:
                    out.append(144)
                    state = 0
                else:
                    v = c
                    length = v & (0xFF >> factor)
                    state = 2 if length == (0xFF >> factor) else 3
            elif state == 2:
                length += c
                state = 3
            else:
                distance = (v >> (8 - factor)) * 256 + c + 1
                for _ in range(length + 3):
                    out.append(out[len(out) - distance] if distance <= len(out) else 0)
                state = 0
    except EOFError:
        pass
    return bytes(out[:size])


def main(path):
    ok = True
    for m in read_zip(path):
        if not 2 <= m["method"] <= 5:
            continue
        data = unreduce(m["compressed"], m["size"], m["method"] - 1)
        good = len(data) == m["size"] and (zlib.crc32(data) & 0xFFFFFFFF) == m["crc"]
        print(("OK   " if good else "FAIL ") + m["name"])
        ok = ok and good
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
